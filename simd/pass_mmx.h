// The MMX engine: 2.14 fixed point on 16-bit lanes, every product rounded
// toward minus infinity, sums wrapping at 16 bits, the taps beyond an edge
// folded into one edge weight.
#pragma once

#include "core/pass_job.h"

namespace lowpass {

// Both passes read the source's w x h picture, write every sample of the
// band's lines of the destination's w x h picture and nothing else, and
// leave the processor in MMX state (the caller executes EMMS). They require
// 1 <= N <= 15, stride >= w, non-overlapping frames, and w >= 2N + 1
// (horizontal) or h >= 2N + 1 (vertical). They read the mmxTaps.
void HorizontalPassMmx(const PassJob& job);
void VerticalPassMmx(const PassJob& job);

}  // namespace lowpass
