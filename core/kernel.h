// Low-pass kernel design and the process-wide kernel cache.
//
// One symmetric windowed-sinc kernel of 2N+1 taps is designed per direction
// and stored in the three numeric forms the engines read: 16.16 integers for
// the portable engine, four 2.14 int16 copies for the MMX engine and four
// float32 copies (16-byte aligned) for the SSE engine.
#pragma once

#include <cstdint>

#include "core/kernel_tables.h"
#include "host/host_api.h"

namespace lowpass {

struct KernelCache {
    std::int32_t valid;
    std::int32_t width;
    std::int32_t height;
    KernelTables horizontal;  // built from X and width
    KernelTables vertical;    // built from Y and height
    alignas(16) float roundingBias[4];
};

// Process-wide state, written only from the host's callbacks, one at a time.
extern KernelCache kernelCache;
extern WindowWeights windowWeights;

// Fills values[0 .. 2N] with the windowed sinc for cutoff fc (cycles per
// pixel) using the current window weights, and returns their sum.
double DesignKernel(double* values, double fc, int taps);

// Rebuilds both directions' tables for the settings in fp->track and the
// frame size in fpip, then marks the cache valid for that size.
void Rebuild(FILTER* fp, FILTER_PROC_INFO* fpip);

// Forces the next frame to rebuild the tables.
inline void InvalidateKernelCache() { kernelCache.valid = 0; }

// The kernel half-length the filter works with: the taps slider clamped to
// what the tables can hold (the host's stored settings may be out of range).
int TapCount(const FILTER* fp);

// x86 conversion semantics for double -> int32 truncation, without undefined
// behaviour: NaN and out-of-range values give INT32_MIN ("integer indefinite").
std::int32_t TruncateToInt32(double v);

}  // namespace lowpass
