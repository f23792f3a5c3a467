// Low-pass kernel design and the kernel cache.
//
// One symmetric windowed-sinc kernel of 2N+1 taps is designed per direction
// and stored in the three numeric forms the engines read (kernel_tables.h).
// A cache remembers the frame size and the settings its tables were built
// for, so that a frame of the same size with the same settings reuses them.
#pragma once

#include <cstdint>

#include "core/kernel_tables.h"

namespace lowpass {

// What the kernels are designed from, as the filter takes it from its host.
struct KernelSettings {
    int x;     // target width: the horizontal cutoff is x / (2 w)
    int y;     // target height: the vertical cutoff is y / (2 h)
    int taps;  // N, 0 .. kMaxTaps (ClampTaps)
    WindowWeights window;
};

struct KernelCache {
    std::int32_t valid;   // non-zero once the tables are built
    std::int32_t width;   // the frame width the tables were built for
    std::int32_t height;  // the frame height the tables were built for
    KernelSettings settings;  // and the settings
    KernelTables horizontal;  // built from X and width
    KernelTables vertical;    // built from Y and height
    alignas(16) float roundingBias[4];
};

// Fills values[0 .. 2N] with the windowed sinc for cutoff fc (cycles per
// pixel) shaped by the window, and returns their sum.
double DesignKernel(double* values, double fc, int taps, const WindowWeights& window);

// Designs the kernel for cutoff fc and stores it in the three forms.
void BuildKernelTables(KernelTables& tables, double fc, int taps, const WindowWeights& window);

// Rebuilds both directions' tables for the settings and the frame size and
// marks the cache valid for them. Runs floating-point code: a caller whose
// vector engines share the floating-point registers clears their state first.
void RebuildKernel(KernelCache& cache, const KernelSettings& settings, int w, int h);

// True when the cache holds tables built for these settings and this size.
bool KernelCacheFits(const KernelCache& cache, const KernelSettings& settings, int w, int h);

// Forces the next frame to rebuild the tables.
inline void InvalidateKernelCache(KernelCache& cache) { cache.valid = 0; }

// The kernel half-length the filter works with: the taps setting clamped to
// what the tables can hold (a stored setting may be out of range).
int ClampTaps(int taps);

// The target width or height the filter works with. The sliders and the
// size message give 0 and up; a value below zero can only come from damaged
// stored settings and is taken as 0 (cutoff 0, whose kernel is the unit
// impulse) instead of a negative cutoff, whose kernel would amplify.
inline int ClampTarget(int target) { return target < 0 ? 0 : target; }

// x86 conversion semantics for double -> int32 truncation, without undefined
// behaviour: NaN and out-of-range values give INT32_MIN ("integer indefinite").
std::int32_t TruncateToInt32(double v);

}  // namespace lowpass
