#include "tests/hosts/standin_host/host_platform.h"

#include <cstdio>
#include <initializer_list>
#include <type_traits>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace lowpass::standin {

#if defined(_WIN32)

GetFilterTableFunc LoadFilterModule(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        if (error) *error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
        return nullptr;
    }
    FARPROC f = GetProcAddress(module, "GetFilterTable");
    if (f == nullptr) {
        if (error) *error = "GetProcAddress(\"GetFilterTable\") failed with error " + std::to_string(GetLastError());
        return nullptr;
    }
    return reinterpret_cast<GetFilterTableFunc>(reinterpret_cast<void*>(f));
}

// lowpass_call_misaligned(function, argument count, arguments, offset):
// calls function with the arguments pushed so that, at the call
// instruction, esp mod 16 == offset (4, 8 or 12: aligned to 4 bytes only,
// as the editor's code leaves it). Works for cdecl and stdcall callees
// alike, since esp is restored from ebp afterwards.
// lowpass_entry_esp(): returns its caller's esp at the call instruction.
__asm__(
    ".text\n"
    ".globl _lowpass_call_misaligned\n"
    "_lowpass_call_misaligned:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    movl 8(%ebp), %eax\n"
    "    movl 12(%ebp), %ecx\n"
    "    movl 16(%ebp), %esi\n"
    "    movl 20(%ebp), %edx\n"
    "    andl $-16, %esp\n"
    "    leal (%edx,%ecx,4), %edi\n"
    "    negl %edi\n"
    "    andl $15, %edi\n"
    "    subl %edi, %esp\n"
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%esi,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  call *%eax\n"
    "    leal -8(%ebp), %esp\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n"
    ".globl _lowpass_entry_esp\n"
    "_lowpass_entry_esp:\n"
    "    leal 4(%esp), %eax\n"
    "    ret\n");

extern "C" std::uint32_t lowpass_call_misaligned(const void* function, int count, const std::uint32_t* args,
                                                 int offset);
extern "C" std::uint32_t lowpass_entry_esp();

namespace {

// Per thread: the workers of exec_multi_thread_func call in too.
thread_local int nextOffset = 0;

// 4, 8, 12, 4, ...: never the 16-byte alignment GCC's own code keeps.
int NextOffset() {
    nextOffset = nextOffset % 3 + 1;
    return 4 * nextOffset;
}

template <typename F>
std::uint32_t Invoke(F function, std::initializer_list<std::uint32_t> args) {
    std::vector<std::uint32_t> list(args);
    return lowpass_call_misaligned(reinterpret_cast<const void*>(function), static_cast<int>(list.size()),
                                   list.data(), NextOffset());
}

template <typename T>
std::uint32_t Word(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(value));
    } else {
        return static_cast<std::uint32_t>(value);
    }
}

}  // namespace

FILTER_DLL* CallGetFilterTable(GetFilterTableFunc f) {
    return reinterpret_cast<FILTER_DLL*>(static_cast<std::uintptr_t>(Invoke(f, {})));
}

BOOL CallProc(FilterProcFunc f, FILTER* fp, FILTER_PROC_INFO* fpip) {
    return static_cast<BOOL>(Invoke(f, {Word(fp), Word(fpip)}));
}

BOOL CallUpdate(FilterUpdateFunc f, FILTER* fp, int status) {
    return static_cast<BOOL>(Invoke(f, {Word(fp), Word(status)}));
}

BOOL CallWndProc(FilterWndProcFunc f, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                 FILTER* fp) {
    return static_cast<BOOL>(
        Invoke(f, {Word(hwnd), Word(message), Word(wparam), Word(lparam), Word(editp), Word(fp)}));
}

void CallThreadBody(ExFuncThreadBody f, int threadId, int threadNum, void* p1, void* p2) {
    Invoke(f, {Word(threadId), Word(threadNum), Word(p1), Word(p2)});
}

bool StackMisalignmentWorks(std::string* detail) {
    for (int offset : {4, 8, 12}) {
        for (int count : {0, 1, 2, 6}) {
            const std::uint32_t args[6] = {1, 2, 3, 4, 5, 6};
            const std::uint32_t esp = lowpass_call_misaligned(reinterpret_cast<const void*>(&lowpass_entry_esp),
                                                              count, args, offset);
            if (static_cast<int>(esp & 15u) != offset) {
                if (detail) {
                    char text[96];
                    std::snprintf(text, sizeof text, "asked for esp %% 16 == %d with %d arguments, got %u", offset,
                                  count, esp & 15u);
                    *detail = text;
                }
                return false;
            }
        }
    }
    if (detail) *detail = "esp % 16 is 4, 8 or 12 at every call into the plug-in";
    return true;
}

std::uint32_t ReadMxcsr() {
    unsigned eax = 1, ebx = 0, ecx = 0, edx = 0;
    __asm__ __volatile__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
    if (!(edx & (1u << 25))) return 0;
    std::uint32_t value = 0;
    // The program is built without SSE; the one instruction is written
    // here, behind the CPUID test above.
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    return value;
}

void SetMxcsr(std::uint32_t value) {
    unsigned eax = 1, ebx = 0, ecx = 0, edx = 0;
    __asm__ __volatile__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
    if (!(edx & (1u << 25))) return;
    __asm__ __volatile__("ldmxcsr %0" : : "m"(value));
}

namespace {

ReceivedMessage received[16];
int receivedCount = 0;

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kMsgKeyDown || message == kMsgKeyUp || message == kMsgMouseWheel) {
        if (receivedCount < 16) received[receivedCount] = ReceivedMessage{message, wparam, lparam};
        ++receivedCount;
        return 0;
    }
    return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace

bool OwnerWindows::Create(std::string* error) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA main{};
    main.lpfnWndProc = MainWindowProc;
    main.hInstance = instance;
    main.lpszClassName = "LowpassStandInMain";
    WNDCLASSA settings{};
    settings.lpfnWndProc = DefWindowProcA;
    settings.hInstance = instance;
    settings.lpszClassName = "LowpassStandInSettings";
    if (!RegisterClassA(&main) || !RegisterClassA(&settings)) {
        if (error) *error = "RegisterClassA failed with error " + std::to_string(GetLastError());
        return false;
    }
    // Neither window is shown: hidden windows need no display.
    main_ = CreateWindowExA(0, "LowpassStandInMain", "stand-in editor", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240,
                            nullptr, nullptr, instance, nullptr);
    if (main_ == nullptr) {
        if (error) *error = "CreateWindowExA (main) failed with error " + std::to_string(GetLastError());
        return false;
    }
    // A top-level window created with a parent is owned by it, as the
    // editor's filter settings windows are owned by its main window.
    settings_ = CreateWindowExA(WS_EX_TOOLWINDOW, "LowpassStandInSettings", "settings", WS_POPUP | WS_CAPTION, 0,
                                0, 200, 200, main_, nullptr, instance, nullptr);
    if (settings_ == nullptr) {
        if (error) *error = "CreateWindowExA (settings) failed with error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

HWND OwnerWindows::OwnerOfSettings() const { return settings_ ? GetWindow(settings_, GW_OWNER) : nullptr; }
int OwnerWindows::ReceivedCount() const { return receivedCount; }
ReceivedMessage OwnerWindows::Received(int index) const { return received[index]; }
void OwnerWindows::Clear() { receivedCount = 0; }

#else  // not Windows

GetFilterTableFunc LoadFilterModule(const std::string& path, std::string* error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        if (error) *error = std::string("dlopen failed: ") + dlerror();
        return nullptr;
    }
    void* f = dlsym(module, "GetFilterTable");
    if (f == nullptr) {
        if (error) *error = std::string("dlsym(\"GetFilterTable\") failed: ") + dlerror();
        return nullptr;
    }
    return reinterpret_cast<GetFilterTableFunc>(f);
}

FILTER_DLL* CallGetFilterTable(GetFilterTableFunc f) { return f(); }
BOOL CallProc(FilterProcFunc f, FILTER* fp, FILTER_PROC_INFO* fpip) { return f(fp, fpip); }
BOOL CallUpdate(FilterUpdateFunc f, FILTER* fp, int status) { return f(fp, status); }
BOOL CallWndProc(FilterWndProcFunc f, HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam, void* editp,
                 FILTER* fp) {
    return f(hwnd, message, wparam, lparam, editp, fp);
}

void CallThreadBody(ExFuncThreadBody f, int threadId, int threadNum, void* p1, void* p2) {
    f(threadId, threadNum, p1, p2);
}

bool StackMisalignmentWorks(std::string* detail) {
    if (detail) *detail = "plain calls (the 4-byte stack of the editor exists only on 32-bit Windows)";
    return true;
}

std::uint32_t ReadMxcsr() {
#if defined(__x86_64__)
    std::uint32_t value = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    return value;
#else
    return 0;
#endif
}

void SetMxcsr(std::uint32_t value) {
#if defined(__x86_64__)
    __asm__ __volatile__("ldmxcsr %0" : : "m"(value));
#else
    (void)value;
#endif
}

bool OwnerWindows::Create(std::string* error) {
    if (error) *error = "no window system here";
    return false;
}
HWND OwnerWindows::OwnerOfSettings() const { return nullptr; }
int OwnerWindows::ReceivedCount() const { return 0; }
ReceivedMessage OwnerWindows::Received(int) const { return ReceivedMessage{0, 0, 0}; }
void OwnerWindows::Clear() {}

#endif

// The x87 unit's state is the processor's, the same on every system. Its
// control word is set and read in 32-bit code only (64-bit code does its
// float arithmetic in SSE registers); its tag word is read wherever there
// is an x87 unit.
#if defined(__i386__)
bool HasX87ControlWord() { return true; }

void SetX87ControlWord(std::uint16_t word) { __asm__ __volatile__("fldcw %0" : : "m"(word)); }

std::uint16_t ReadX87ControlWord() {
    std::uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}
#else
bool HasX87ControlWord() { return false; }
void SetX87ControlWord(std::uint16_t) {}
std::uint16_t ReadX87ControlWord() { return 0; }
#endif

#if defined(__i386__) || defined(__x86_64__)
std::uint16_t ReadX87TagWord() {
    // FNSTENV masks the exceptions; the environment is loaded back.
    unsigned char env[28];
    __asm__ __volatile__("fnstenv %0\n\tfldenv %0" : "=m"(env) : : "memory");
    return static_cast<std::uint16_t>(env[8] | env[9] << 8);
}
#else
std::uint16_t ReadX87TagWord() { return 0xFFFF; }
#endif

}  // namespace lowpass::standin
