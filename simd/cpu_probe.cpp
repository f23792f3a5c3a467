// Processor probe. Built for the base instruction set: the one SSE
// instruction it executes is written in assembly, under a guard.
#include "simd/cpu_probe.h"

#include <cpuid.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <csetjmp>
#include <csignal>
#endif

namespace lowpass {

namespace {

constexpr std::uint32_t kEdxMmx = 1u << 23;
constexpr std::uint32_t kEdxSse = 1u << 25;
constexpr std::uint32_t kEdxSse2 = 1u << 26;
constexpr std::uint32_t kEcxOsxsave = 1u << 27;
constexpr std::uint32_t kEcxAvx = 1u << 28;
constexpr std::uint32_t kEcxF16c = 1u << 29;
constexpr std::uint32_t kLeaf7EbxAvx2 = 1u << 5;
constexpr std::uint32_t kLeaf7EbxAvx512 = (1u << 16) | (1u << 30) | (1u << 31);  // F, BW, VL
constexpr std::uint32_t kXcr0XmmYmm = (1u << 1) | (1u << 2);
// XMM, YMM, the mask registers, the upper halves of ZMM0-15, ZMM16-31.
constexpr std::uint32_t kXcr0Avx512 = kXcr0XmmYmm | (1u << 5) | (1u << 6) | (1u << 7);

std::uint32_t NativeCpuidLeaf1Edx() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    return edx;
}

std::uint32_t NativeCpuidMaxLeaf() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(0, eax, ebx, ecx, edx);
    return eax;
}

std::uint32_t NativeCpuidLeaf1Ecx() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid(1, eax, ebx, ecx, edx);
    return ecx;
}

std::uint32_t NativeCpuidLeaf7Ebx() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return ebx;
}

// XGETBV with ECX = 0 (raises an illegal-instruction fault unless OSXSAVE
// is set). Written as an instruction so that no instruction-set flag is
// needed for this file.
std::uint32_t NativeXgetbv0() {
    std::uint32_t eax = 0, edx = 0;
    __asm__ __volatile__("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return eax;
}

#if defined(_WIN32)

// STATUS_ILLEGAL_INSTRUCTION: the system has not enabled the SSE state.
constexpr DWORD kIllegalInstruction = 0xC000001DUL;

volatile LONG trialFault = 0;
volatile DWORD trialCode = 0;

extern "C" void lowpass_xorps_begin();
extern "C" void lowpass_xorps_end();

// The guarded instruction, with labels around it so that the exception
// handler can recognise a fault there and resume after it.
// C names carry a leading underscore on 32-bit Windows only.
#if defined(_WIN64)
#define LOWPASS_C_NAME(name) #name
#else
#define LOWPASS_C_NAME(name) "_" #name
#endif
__asm__(
    ".text\n"
    ".globl " LOWPASS_C_NAME(lowpass_xorps_trial) "\n"
    LOWPASS_C_NAME(lowpass_xorps_trial) ":\n"
    ".globl " LOWPASS_C_NAME(lowpass_xorps_begin) "\n"
    LOWPASS_C_NAME(lowpass_xorps_begin) ":\n"
    "    xorps %xmm0, %xmm0\n"
    ".globl " LOWPASS_C_NAME(lowpass_xorps_end) "\n"
    LOWPASS_C_NAME(lowpass_xorps_end) ":\n"
    "    ret\n");
extern "C" void lowpass_xorps_trial();

LONG CALLBACK TrialHandler(EXCEPTION_POINTERS* info) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->ExceptionRecord->ExceptionAddress);
    if (at != reinterpret_cast<std::uintptr_t>(&lowpass_xorps_begin)) return EXCEPTION_CONTINUE_SEARCH;
    trialFault = 1;
    trialCode = info->ExceptionRecord->ExceptionCode;
#if defined(_WIN64)
    info->ContextRecord->Rip = reinterpret_cast<DWORD64>(&lowpass_xorps_end);
#else
    info->ContextRecord->Eip = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(&lowpass_xorps_end));
#endif
    return EXCEPTION_CONTINUE_EXECUTION;
}

SseTrial NativeTryXorps() {
    trialFault = 0;
    trialCode = 0;
    PVOID handler = AddVectoredExceptionHandler(1, TrialHandler);
    if (handler == nullptr) return SseTrial::OtherFault;
    lowpass_xorps_trial();
    RemoveVectoredExceptionHandler(handler);
    if (!trialFault) return SseTrial::Completed;
    return trialCode == kIllegalInstruction ? SseTrial::IllegalInstruction : SseTrial::OtherFault;
}

#else

sigjmp_buf trialJump;
volatile std::sig_atomic_t trialSignal = 0;

void TrialHandler(int signal) {
    trialSignal = signal;
    siglongjmp(trialJump, 1);
}

SseTrial NativeTryXorps() {
    struct sigaction action {};
    struct sigaction previousIll {};
    struct sigaction previousFpe {};
    struct sigaction previousSegv {};
    struct sigaction previousBus {};
    action.sa_handler = TrialHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGILL, &action, &previousIll);
    sigaction(SIGFPE, &action, &previousFpe);
    sigaction(SIGSEGV, &action, &previousSegv);
    sigaction(SIGBUS, &action, &previousBus);

    trialSignal = 0;
    SseTrial outcome = SseTrial::Completed;
    if (sigsetjmp(trialJump, 1) == 0) {
#if defined(__SSE__)
        __asm__ __volatile__("xorps %%xmm0, %%xmm0" ::: "xmm0");
#else
        // Built without SSE the compiler keeps nothing in xmm0 and does not
        // accept it as a clobber; plain asm names the register directly.
        __asm__ __volatile__("xorps %xmm0, %xmm0");
#endif
    } else {
        outcome = trialSignal == SIGILL ? SseTrial::IllegalInstruction : SseTrial::OtherFault;
    }

    sigaction(SIGBUS, &previousBus, nullptr);
    sigaction(SIGSEGV, &previousSegv, nullptr);
    sigaction(SIGFPE, &previousFpe, nullptr);
    sigaction(SIGILL, &previousIll, nullptr);
    return outcome;
}

#endif

}  // namespace

const CpuProbeOps& NativeCpuProbeOps() {
    static const CpuProbeOps ops{NativeCpuidLeaf1Edx, NativeTryXorps,      NativeCpuidMaxLeaf,
                                 NativeCpuidLeaf1Ecx, NativeCpuidLeaf7Ebx, NativeXgetbv0};
    return ops;
}

int HasMmx(const CpuProbeOps& ops) { return (ops.cpuidLeaf1Edx() & kEdxMmx) ? 1 : 0; }

int HasUsableSse(const CpuProbeOps& ops) {
    if (!HasMmx(ops)) return 0;
    if (!(ops.cpuidLeaf1Edx() & kEdxSse)) return 0;
    switch (ops.tryXorps()) {
        case SseTrial::Completed: return 1;
        case SseTrial::IllegalInstruction: return 0;
        case SseTrial::OtherFault: return 1;
    }
    return 0;
}

int ComposeCpuCaps(const CpuProbeOps& ops) {
    if (!HasMmx(ops)) return 0;
    return HasUsableSse(ops) ? (kCpuCapsMmx | kCpuCapsSse) : kCpuCapsMmx;
}

int HasUsableSse2(const CpuProbeOps& ops) {
    if (!HasUsableSse(ops)) return 0;
    return (ops.cpuidLeaf1Edx() & kEdxSse2) ? 1 : 0;
}

namespace {

// AVX reported and its registers saved by the system.
bool HasAvxState(const CpuProbeOps& ops) {
    if (!HasUsableSse2(ops)) return false;
    const std::uint32_t ecx = ops.cpuidLeaf1Ecx();
    if ((ecx & (kEcxOsxsave | kEcxAvx)) != (kEcxOsxsave | kEcxAvx)) return false;
    return (ops.xgetbv0() & kXcr0XmmYmm) == kXcr0XmmYmm;
}

}  // namespace

int HasUsableAvx2(const CpuProbeOps& ops) {
    if (!HasAvxState(ops)) return 0;
    if (ops.cpuidMaxLeaf() < 7) return 0;
    return (ops.cpuidLeaf7Ebx() & kLeaf7EbxAvx2) ? 1 : 0;
}

int HasUsableF16c(const CpuProbeOps& ops) {
    if (!HasAvxState(ops)) return 0;
    return (ops.cpuidLeaf1Ecx() & kEcxF16c) ? 1 : 0;
}

int HasUsableAvx512(const CpuProbeOps& ops) {
    if (!HasUsableAvx2(ops)) return 0;
    if ((ops.xgetbv0() & kXcr0Avx512) != kXcr0Avx512) return 0;
    return (ops.cpuidLeaf7Ebx() & kLeaf7EbxAvx512) == kLeaf7EbxAvx512 ? 1 : 0;
}

int ProbeSseImplementations(const CpuProbeOps& ops) {
    return (HasUsableSse2(ops) ? kCpuCapsSse2 : 0) | (HasUsableAvx2(ops) ? kCpuCapsAvx2 : 0) |
           (HasUsableAvx512(ops) ? kCpuCapsAvx512 : 0);
}

int ProbeFeatures(const CpuProbeOps& ops) {
    return ComposeCpuCaps(ops) | ProbeSseImplementations(ops) | (HasUsableF16c(ops) ? kCpuCapsF16c : 0);
}

}  // namespace lowpass
