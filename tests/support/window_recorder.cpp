#include "tests/support/window_recorder.h"

#include "plugin/platform_window.h"

// The Windows builds use the real window system.
#if !defined(_WIN32)

namespace lowpass::testing {

namespace {

WindowRecorder recorder;

HWND RecordGetWindow(HWND window, UINT command) {
    WindowRecorder& r = recorder;
    if (r.getWindowCount < WindowRecorder::kCapacity)
        r.getWindowCalls[r.getWindowCount] = WindowRecorder::GetWindowCall{window, command};
    ++r.getWindowCount;
    // Only the owner relation is modelled; other questions have no answer,
    // as GetWindow gives NULL where no such window exists.
    return command == kGwOwner ? r.ownerAnswer : nullptr;
}

void RecordSend(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    WindowRecorder& r = recorder;
    if (r.sendCount < WindowRecorder::kCapacity)
        r.sentMessages[r.sendCount] = WindowRecorder::SentMessage{window, message, wparam, lparam};
    ++r.sendCount;
}

constexpr WindowSystemCalls kRecording{RecordGetWindow, RecordSend};

}  // namespace

WindowRecorder& RecordWindowCalls(HWND ownerAnswer) {
    recorder = WindowRecorder{};
    recorder.ownerAnswer = ownerAnswer;
    SetWindowSystemCalls(&kRecording);
    return recorder;
}

const WindowRecorder& RecordedWindowCalls() { return recorder; }

void StopRecordingWindowCalls() { SetWindowSystemCalls(nullptr); }

}  // namespace lowpass::testing

#endif
