// The SSE engine: float32 products and sums in a fixed order, 0.5 added
// before a conversion under the thread's rounding control, results
// saturated to 16 bits, the taps beyond an edge folded into one edge weight.
#pragma once

#include "core/pass_job.h"

namespace lowpass {

// Same contract as the MMX passes (see pass_mmx.h); they read sseTaps and
// roundingBias and leave the processor in MMX state.
void HorizontalPassSse(const PassJob& job);
void VerticalPassSse(const PassJob& job);

}  // namespace lowpass
