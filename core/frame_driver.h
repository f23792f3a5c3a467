// The per-frame entry (the host's func_proc): one procedure, run with one
// engine's pair of passes.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// A pass as the driver calls it: source fpip->ycp_edit, destination
// fpip->ycp_temp, sizes from fpip, taps from fp->track.
using FramePass = void (*)(FILTER* fp, FILTER_PROC_INFO* fpip);

// An engine's HorizontalPass and VerticalPass, and what the driver does
// after them (the vector engines clear MMX state; the scalar one nothing).
struct PassPair {
    FramePass horizontal;
    FramePass vertical;
    void (*afterPasses)();
};

// Rebuilds the kernel if the cache does not fit the frame, runs the
// horizontal pass if w > X and the vertical pass if h > Y, exchanging
// ycp_edit and ycp_temp after each, then runs pair.afterPasses.
BOOL RunFramePasses(FILTER* fp, FILTER_PROC_INFO* fpip, const PassPair& pair);

// The three drivers the settings update chooses among.
BOOL LP_CDECL ProcScalar(FILTER* fp, FILTER_PROC_INFO* fpip);
BOOL LP_CDECL ProcMmx(FILTER* fp, FILTER_PROC_INFO* fpip);
BOOL LP_CDECL ProcSse(FILTER* fp, FILTER_PROC_INFO* fpip);

}  // namespace lowpass
