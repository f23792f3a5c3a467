// What the stand-in host program needs from the operating system, the same
// on Linux and on 32-bit Windows: loading the plug-in by its file name,
// calling its callbacks the way the editor calls them, and (on Windows) a
// real owner window for the settings window.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_api.h"

namespace lowpass::standin {

using GetFilterTableFunc = FILTER_DLL*(LP_STDCALL*)(void);

// Loads the module through the system loader (dlopen / LoadLibraryA) and
// looks up GetFilterTable by name. Returns nullptr and fills error on
// failure. The module stays loaded for the life of the process.
GetFilterTableFunc LoadFilterModule(const std::string& path, std::string* error);

// Calls made the way the editor makes them. On 32-bit Windows every call
// goes through a trampoline that leaves the stack aligned to 4 bytes only
// (never to 16: the offset rotates through 4, 8 and 12), with the x87
// control word the caller has set. Elsewhere they are plain calls.
FILTER_DLL* CallGetFilterTable(GetFilterTableFunc f);
BOOL CallProc(FilterProcFunc f, FILTER* fp, FILTER_PROC_INFO* fpip);
BOOL CallUpdate(FilterUpdateFunc f, FILTER* fp, int status);
BOOL CallWndProc(FilterWndProcFunc f, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                 FILTER* fp);
// The body of exec_multi_thread_func, called the same way on a worker.
void CallThreadBody(ExFuncThreadBody f, int threadId, int threadNum, void* p1, void* p2);

// True when the trampoline really calls with the stack offset it claims
// (checked with a probe function that reports its caller's stack pointer).
// Always true where no trampoline is used; describes the failure otherwise.
bool StackMisalignmentWorks(std::string* detail);

// The x87 control word: set, and read back. On x86-64 Linux the kernel
// design uses SSE2 doubles and these do nothing (Read returns 0).
bool HasX87ControlWord();
void SetX87ControlWord(std::uint16_t word);
std::uint16_t ReadX87ControlWord();
// MXCSR where the processor has SSE (0 otherwise; Set then does nothing).
std::uint32_t ReadMxcsr();
void SetMxcsr(std::uint32_t value);
// The x87 tag word on x86 (0xFFFF: every register empty, as after EMMS;
// MMX code leaves registers marked in use); 0xFFFF elsewhere.
std::uint16_t ReadX87TagWord();

// The editor's main window and the filter's settings window, owned by it.
// On Windows both are real (hidden) windows and the main window's window
// procedure records the input messages it receives; elsewhere there are no
// windows and Available() is false.
struct ReceivedMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

class OwnerWindows {
public:
    bool Create(std::string* error);
    bool Available() const { return settings_ != nullptr; }
    HWND Main() const { return main_; }
    HWND Settings() const { return settings_; }
    // The owner the window system reports for the settings window.
    HWND OwnerOfSettings() const;
    // Input messages the main window received since the last Clear.
    int ReceivedCount() const;
    ReceivedMessage Received(int index) const;
    void Clear();

private:
    HWND main_ = nullptr;
    HWND settings_ = nullptr;
};

}  // namespace lowpass::standin
