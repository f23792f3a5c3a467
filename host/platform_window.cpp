#include "host/platform_window.h"

namespace lowpass {

#if defined(_WIN32)

HWND PlatformGetWindow(HWND window, UINT command) { return ::GetWindow(window, command); }

void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    ::SendMessageA(window, message, wparam, lparam);
}

#else

namespace {
StandInWindowSystem standInWindows;
}  // namespace

StandInWindowSystem& StandInWindows() { return standInWindows; }

void ResetStandInWindows(HWND ownerAnswer) {
    standInWindows = StandInWindowSystem{};
    standInWindows.ownerAnswer = ownerAnswer;
}

HWND PlatformGetWindow(HWND window, UINT command) {
    StandInWindowSystem& s = standInWindows;
    if (s.getWindowCount < StandInWindowSystem::kCapacity)
        s.getWindowCalls[s.getWindowCount] = StandInWindowSystem::GetWindowCall{window, command};
    ++s.getWindowCount;
    // Only the owner relation is modelled; other questions have no answer,
    // as GetWindow gives NULL where no such window exists.
    return command == kGwOwner ? s.ownerAnswer : nullptr;
}

void PlatformSendMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    StandInWindowSystem& s = standInWindows;
    if (s.sendCount < StandInWindowSystem::kCapacity)
        s.sentMessages[s.sendCount] = StandInWindowSystem::SentMessage{window, message, wparam, lparam};
    ++s.sendCount;
}

#endif

}  // namespace lowpass
