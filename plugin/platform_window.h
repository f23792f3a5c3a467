// The two window-system calls the settings-window handler makes. On Windows
// they are user32's GetWindow and SendMessageA. Where there is no window
// system (the native builds for tests and tools) they go to a pair of
// functions that can be replaced; by default GetWindow finds no window and
// messages are dropped.
#pragma once

#include "host/host_api.h"

namespace lowpass {

// GetWindow(window, command).
HWND PlatformGetWindow(HWND window, UINT command);

// SendMessageA(window, message, wparam, lparam); the reply is of no use to
// the filter and is dropped.
void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#if !defined(_WIN32)
struct WindowSystemCalls {
    HWND (*getWindow)(HWND window, UINT command);
    void (*sendMessage)(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
};

// Routes the two calls to `calls` (null: back to no window system).
void SetWindowSystemCalls(const WindowSystemCalls* calls);
#endif

}  // namespace lowpass
