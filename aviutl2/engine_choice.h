// Which implementation of the float passes a call runs.
#pragma once

#include "core/float_pass.h"

namespace lowpass::auf2 {

// With the SIMD box off, the portable passes; with it on, the most
// preferred implementation the processor runs. They give the same bits.
// The processor is asked once; nothing else is kept.
const FloatPasses& ChoosePasses(bool simd);

// The name of the implementation ChoosePasses picks, for reports.
const char* ChosenEngineName(bool simd);

}  // namespace lowpass::auf2
