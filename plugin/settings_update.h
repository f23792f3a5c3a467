// The host's func_update: window boxes as radio buttons, window weights,
// engine choice.
#pragma once

#include "host/host_api.h"

namespace lowpass {

BOOL LP_CDECL UpdateSettings(FILTER* fp, int status);

}  // namespace lowpass
