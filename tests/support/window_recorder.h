// A window system for the native tests: it answers GetWindow with a handle
// the test sets and records every call the settings-window handler makes,
// so that tests can see what it asked and sent.
#pragma once

#include "host/host_api.h"

namespace lowpass::testing {

struct WindowRecorder {
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

// The one recorder: forgets every call, sets what GetWindow answers for an
// owner, and routes the handler's window-system calls to it.
WindowRecorder& RecordWindowCalls(HWND ownerAnswer);

// What has been recorded since.
const WindowRecorder& RecordedWindowCalls();

// Routes the calls back to no window system.
void StopRecordingWindowCalls();

}  // namespace lowpass::testing
