// The two window-system calls the settings-window handler makes. On Windows
// they are user32's GetWindow and SendMessageA. Elsewhere a stand-in of the
// project's own takes their place: it answers GetWindow with a handle the
// caller sets and records every call, so that the same handler builds on
// Linux and tests can see what it asked and sent.
#pragma once

#include <cstdint>

#include "host/host_api.h"

namespace lowpass {

// GetWindow(window, command).
HWND PlatformGetWindow(HWND window, UINT command);

// SendMessageA(window, message, wparam, lparam); the reply is of no use to
// the filter and is dropped.
void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

#if !defined(_WIN32)
// What the stand-in window system was asked and sent. Fixed capacity: the
// filter allocates nothing, and tests look at a handful of calls.
struct StandInWindowSystem {
    static constexpr int kCapacity = 8;

    struct GetWindowCall {
        HWND window;
        UINT command;
    };
    struct SentMessage {
        HWND window;
        UINT message;
        WPARAM wparam;
        LPARAM lparam;
    };

    HWND ownerAnswer = nullptr;  // what GetWindow(any, GW_OWNER) answers
    int getWindowCount = 0;      // calls made, even beyond the capacity
    int sendCount = 0;
    GetWindowCall getWindowCalls[kCapacity]{};  // the first kCapacity calls
    SentMessage sentMessages[kCapacity]{};
};

// The stand-in's one process-wide record.
StandInWindowSystem& StandInWindows();

// Forgets every call and sets what GetWindow answers for an owner.
void ResetStandInWindows(HWND ownerAnswer);
#endif

}  // namespace lowpass
