// EMMS: leaves MMX state so that floating-point code may run again. The
// vector engines' passes leave the processor in MMX state; whoever runs
// them clears it once after the last pass, and before any floating-point
// work on a processor with MMX.
#pragma once

namespace lowpass {

void ClearMmxState();

}  // namespace lowpass
