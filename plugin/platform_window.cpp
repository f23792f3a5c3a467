#include "plugin/platform_window.h"

namespace lowpass {

#if defined(_WIN32)

HWND PlatformGetWindow(HWND window, UINT command) { return ::GetWindow(window, command); }

void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ::SendMessageA(window, message, wparam, lparam);
}

#else

namespace {

HWND NoWindow(HWND, UINT) { return nullptr; }
void DropMessage(HWND, UINT, WPARAM, LPARAM) {}

constexpr WindowSystemCalls kNoWindowSystem{NoWindow, DropMessage};
const WindowSystemCalls* windowSystem = &kNoWindowSystem;

}  // namespace

void SetWindowSystemCalls(const WindowSystemCalls* calls) {
    windowSystem = calls != nullptr ? calls : &kNoWindowSystem;
}

HWND PlatformGetWindow(HWND window, UINT command) { return windowSystem->getWindow(window, command); }

void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    windowSystem->sendMessage(window, message, wparam, lparam);
}

#endif

}  // namespace lowpass
