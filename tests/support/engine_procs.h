// The plug-in's func_proc entry of an engine of the table, by name.
#pragma once

#include "plugin/frame_proc.h"
#include "simd/engines.h"

namespace lowpass::testing {

inline FilterProcFunc ProcOf(const char* name) { return lowpass::FrameProcFor(*lowpass::FindEngine(name)); }

}  // namespace lowpass::testing
