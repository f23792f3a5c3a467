// The host's func_proc: one entry per engine of the table, each running the
// frame driver with that engine's passes. The settings update writes the
// chosen one into the FILTER's func_proc.
#pragma once

#include "host/host_api.h"
#include "simd/engines.h"

namespace lowpass {

// Builds the frame and the settings from the host's records (taps clamped
// to the tables, a target below zero taken as 0), runs the driver with the
// engine's passes on the process-wide kernel cache, and hands the result
// back in fpip->ycp_edit. Always TRUE.
BOOL RunHostFrame(FILTER* fp, FILTER_PROC_INFO* fpip, const Engine& engine);

// The func_proc entry of an engine of the table.
FilterProcFunc FrameProcFor(const Engine& engine);

// The engine whose entry `proc` is, or null.
const Engine* EngineOfFrameProc(FilterProcFunc proc);

// The portable engine's entry: the descriptor's func_proc until the first
// settings update chooses.
BOOL LP_CDECL ProcPortable(FILTER* fp, FILTER_PROC_INFO* fpip);

}  // namespace lowpass
