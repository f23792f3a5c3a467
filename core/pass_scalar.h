// The portable engine: 16.16 fixed point, halves rounded up, 32-bit wrap.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// Filters every row of fpip->ycp_edit into fpip->ycp_temp with the
// horizontal fixedTaps. Handles any size, including rows shorter than the
// kernel: taps beyond an edge reuse the edge pixel.
void HorizontalPassScalar(FILTER* fp, FILTER_PROC_INFO* fpip);

// Filters every column of fpip->ycp_edit into fpip->ycp_temp with the
// vertical fixedTaps.
void VerticalPassScalar(FILTER* fp, FILTER_PROC_INFO* fpip);

}  // namespace lowpass
