// The host's func_update: window boxes as radio buttons, window weights,
// engine choice.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// Which window box the filter last left switched on (entries 1..4, aligned
// with the check array; entry 0 unused). Zeroed when the module is loaded.
extern int windowMemory[5];

BOOL LP_CDECL UpdateSettings(FILTER* fp, int status);

}  // namespace lowpass
