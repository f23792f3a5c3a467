// The host's func_update: window boxes as radio buttons, window weights,
// engine choice.
#pragma once

#include "host/host_api.h"
#include "simd/engines.h"

namespace lowpass {

// The engine the SIMD box and the processor choose: with the box on, the
// most preferred engine of the table that a processor with capability bits
// `caps` (cpuCaps and the faster SSE implementations) can run: the SSE
// arithmetic on AVX2, else on SSE2, else the reference SSE passes, else
// MMX; with it off, the portable engine.
const Engine& ChooseEngine(bool simdAllowed, int caps);

BOOL LP_CDECL UpdateSettings(FILTER* fp, int status);

}  // namespace lowpass
