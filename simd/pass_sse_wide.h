// Faster implementations of the SSE engine's arithmetic, at the full width
// of SSE2, AVX2 and AVX-512 registers. Every output sample is the one the reference
// SSE passes (pass_sse.h) give, for every input and every rounding mode:
// the same float32 products, the same order of additions per output, the
// same edge weights, 0.5 where it enters there, the conversion under the
// thread's rounding control and signed saturation. Only how outputs are
// grouped into vectors differs.
//
// Preconditions as for the reference passes: 1 <= N <= 15, a line of at
// least 2N + 1 pixels in the pass direction, stride >= w, source and
// destination do not overlap, the tables and the bias 16-byte aligned.
// Nothing outside the w x h pictures is read, and nothing outside the job's
// band is written. They use no MMX register, so they leave no MMX state.
#pragma once

#include "core/pass_job.h"

namespace lowpass {

// SSE2: four float32 lanes; any processor from the Pentium 4 on.
void HorizontalPassSse2(const PassJob& job);
void VerticalPassSse2(const PassJob& job);
void FusedPassesSse2(const FusedJob& job);

// AVX2: eight float32 lanes; needs the processor's AVX2 and the operating
// system's saving of the YMM registers.
void HorizontalPassAvx2(const PassJob& job);
void VerticalPassAvx2(const PassJob& job);
void FusedPassesAvx2(const FusedJob& job);

// AVX-512 (F, BW and VL): sixteen float32 lanes; needs the processor's
// AVX-512 and the operating system's saving of the ZMM and mask registers.
void HorizontalPassAvx512(const PassJob& job);
void VerticalPassAvx512(const PassJob& job);
void FusedPassesAvx512(const FusedJob& job);

// The fused passes (FusedJob) give the samples of the horizontal pass
// followed by the vertical pass, for 1 <= N <= kWideFusedMaxTaps and a
// picture of at least 2N + 1 pixels both ways (the engine table takes them
// up to the N where they are faster). Stack per call: at most about 55
// KiB (a ring of horizontal rows, 24 KiB; the edge runs' coefficients, 12
// KiB; the samples kept between strips for up to 192 rows, 9.75 KiB; one
// row's widened samples of a strip, 6.4 KiB).
constexpr int kWideFusedMaxTaps = 4;

}  // namespace lowpass
