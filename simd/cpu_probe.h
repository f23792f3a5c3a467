// Which vector engines the processor and the operating system allow.
#pragma once

#include <cstdint>

namespace lowpass {

// Bit values of the capability word: 0 (portable engine only), 1 (MMX) or
// 3 (MMX and SSE).
constexpr int kCpuCapsMmx = 1;
constexpr int kCpuCapsSse = 2;
// Bits beyond that word, for the faster implementations of the SSE
// arithmetic; set only where SSE is usable, never part of the word itself.
constexpr int kCpuCapsSse2 = 4;
constexpr int kCpuCapsAvx2 = 8;
constexpr int kCpuCapsAvx512 = 16;
// Half-float conversions (F16C), for the float passes of the 64-bit plug-in.
constexpr int kCpuCapsF16c = 32;

// Every feature bit with its name, for messages and reports.
struct CpuFeature {
    int bit;
    const char* name;
};
inline constexpr CpuFeature kCpuFeatures[] = {
    {kCpuCapsMmx, "MMX"},   {kCpuCapsSse, "SSE"},        {kCpuCapsSse2, "SSE2"},
    {kCpuCapsAvx2, "AVX2"}, {kCpuCapsAvx512, "AVX-512"}, {kCpuCapsF16c, "F16C"},
};

// Outcome of executing one SSE instruction under an illegal-instruction guard.
enum class SseTrial { Completed, IllegalInstruction, OtherFault };

// The processor questions the probe asks, behind a seam so that tests can
// answer them with any combination.
struct CpuProbeOps {
    std::uint32_t (*cpuidLeaf1Edx)();
    SseTrial (*tryXorps)();
    // What the wider implementations of the SSE arithmetic need to know.
    std::uint32_t (*cpuidMaxLeaf)();   // EAX of CPUID leaf 0: the highest leaf there is
    std::uint32_t (*cpuidLeaf1Ecx)();  // OSXSAVE (bit 27), AVX (bit 28), F16C (bit 29)
    std::uint32_t (*cpuidLeaf7Ebx)();  // AVX2 (bit 5), AVX-512 F, BW, VL (16, 30, 31); asked only when leaf 7 exists
    std::uint32_t (*xgetbv0)();        // low half of XCR0; asked only when OSXSAVE is set
};

// The real processor and operating system.
const CpuProbeOps& NativeCpuProbeOps();

int HasMmx(const CpuProbeOps& ops = NativeCpuProbeOps());
int HasUsableSse(const CpuProbeOps& ops = NativeCpuProbeOps());
int ComposeCpuCaps(const CpuProbeOps& ops = NativeCpuProbeOps());

// The faster implementations of the SSE arithmetic, which need SSE usable
// (as above) and more. SSE2: CPUID leaf 1 EDX bit 26; it works on the XMM
// registers the SSE trial has shown the system saves. AVX2: CPUID leaf 7
// EBX bit 5 and AVX (leaf 1 ECX bit 28), and the system saving the YMM
// registers: OSXSAVE (leaf 1 ECX bit 27) and XCR0 bits 1 (XMM) and 2 (YMM).
// AVX-512: AVX2 usable as above, CPUID leaf 7 EBX bits 16 (F), 30 (BW) and
// 31 (VL), and the system saving the whole of the vector state: XCR0 bits
// 1 and 2 as for AVX2, 5 (the mask registers), 6 (the upper halves of
// ZMM0-15) and 7 (ZMM16-31).
int HasUsableSse2(const CpuProbeOps& ops = NativeCpuProbeOps());
int HasUsableAvx2(const CpuProbeOps& ops = NativeCpuProbeOps());
int HasUsableAvx512(const CpuProbeOps& ops = NativeCpuProbeOps());
// F16C: CPUID leaf 1 ECX bit 29, and the AVX state saved by the system as
// for AVX2 (AVX, OSXSAVE, XCR0 bits 1 and 2): its conversions are VEX
// instructions on XMM and YMM registers.
int HasUsableF16c(const CpuProbeOps& ops = NativeCpuProbeOps());
// kCpuCapsSse2, kCpuCapsAvx2 and kCpuCapsAvx512 as they are usable.
int ProbeSseImplementations(const CpuProbeOps& ops = NativeCpuProbeOps());
// Every feature bit: ComposeCpuCaps() | ProbeSseImplementations(), and F16C.
int ProbeFeatures(const CpuProbeOps& ops = NativeCpuProbeOps());

}  // namespace lowpass
