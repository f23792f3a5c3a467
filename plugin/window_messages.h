// The host's func_WndProc: key and wheel input go on to the host's main
// window; the private SizeRequest message sets X and Y.
#pragma once

#include "host/host_api.h"
#include "plugin/filter_settings.h"

namespace lowpass {

BOOL LP_CDECL HandleWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                                  FILTER* fp);

}  // namespace lowpass
