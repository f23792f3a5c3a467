// The SSE engine: float32 products and sums in a fixed order, 0.5 added
// before a conversion under the thread's rounding control, results
// saturated to 16 bits, the taps beyond an edge folded into one edge weight.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// Same contract as the MMX passes (see pass_mmx.h); they read sseTaps and
// roundingBias and leave the processor in MMX state.
void HorizontalPassSse(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n);
void VerticalPassSse(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n);

}  // namespace lowpass
