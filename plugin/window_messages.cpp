#include "plugin/window_messages.h"

#include <cstdint>

#include "core/kernel.h"
#include "plugin/filter_settings.h"
#include "plugin/platform_window.h"
#include "plugin/plugin_state.h"

namespace lowpass {

namespace {

// Keyboard and wheel input go on to the host's main window, which owns the
// settings window, so that the host's shortcuts and scrolling keep working
// while the settings window has the focus.
BOOL ForwardToOwner(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    PlatformSendMessage(PlatformGetWindow(hwnd, kGwOwner), message, wparam, lparam);
    return FALSE;
}

// Sets X and Y in one step. The values are stored as sent, without the
// sliders' limits; a frame smaller than the kernel that this allows is the
// drivers' to handle.
BOOL ApplySizeRequest(WPARAM wparam, LPARAM lparam, FILTER* fp) {
    // The host's lparam is 32 bits wide; a 64-bit build looks at the same bits.
    const auto bits = static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lparam));
    fp->track[kTrackX] = static_cast<int>(bits & 0xFFFFu);
    fp->track[kTrackY] = static_cast<int>(bits >> 16);
    fp->exfunc->filter_window_update(fp);
    InvalidateKernelCache(kernelCache);
    if (wparam == 0) return FALSE;
    return fp->exfunc->is_filter_active(fp) != 0 ? TRUE : FALSE;
}

}  // namespace

BOOL LP_CDECL HandleWindowMessage(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* /*editp*/,
                                  FILTER* fp) {
    switch (message) {
        case kMsgKeyDown:
        case kMsgKeyUp:
        case kMsgMouseWheel:
            return ForwardToOwner(hwnd, message, wparam, lparam);
        case kSizeRequest:
            return ApplySizeRequest(wparam, lparam, fp);
        default:
            return FALSE;
    }
}

}  // namespace lowpass
