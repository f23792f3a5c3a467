// Which engine's passes a call runs.
#pragma once

#include "core/frame_driver.h"

namespace lowpass::auf2 {

// With the SIMD box off, the portable engine. With it on, the most
// preferred engine of the registry that this front end may use and the
// processor runs (the implementations of the SSE arithmetic, which all give
// the same results; the MMX engine is not offered: every 64-bit processor
// has SSE). The processor is asked once; nothing else is kept.
const PassPair& ChoosePasses(bool simd);

// The name of the engine ChoosePasses picks, for reports.
const char* ChosenEngineName(bool simd);

}  // namespace lowpass::auf2
