// The MMX engine: 2.14 fixed point on 16-bit lanes, every product rounded
// toward minus infinity, sums wrapping at 16 bits, the taps beyond an edge
// folded into one edge weight.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// Both passes read the source's w x h picture, write every sample of the
// destination's w x h picture and nothing else, and leave the processor in
// MMX state (the caller executes EMMS). They require 1 <= n <= 15,
// max_w >= w, non-overlapping frames, and w >= 2n + 1, h >= 1 (horizontal)
// or h >= 2n + 1, w >= 1 (vertical).
void HorizontalPassMmx(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n);
void VerticalPassMmx(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n);

}  // namespace lowpass
