// The host's func_WndProc: key and wheel input go on to the host's main
// window; the private SizeRequest message sets X and Y.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// WM_USER + 200: lparam carries X in its low 16 bits, Y in its high 16 bits.
constexpr UINT kSizeRequest = kMsgUser + 200;

BOOL LP_CDECL HandleWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                                  FILTER* fp);

}  // namespace lowpass
