// Which vector engines the processor and the operating system allow.
#pragma once

#include <cstdint>

namespace lowpass {

// Bit values of the capability word: 0 (portable engine only), 1 (MMX) or
// 3 (MMX and SSE).
constexpr int kCpuCapsMmx = 1;
constexpr int kCpuCapsSse = 2;

// Outcome of executing one SSE instruction under an illegal-instruction guard.
enum class SseTrial { Completed, IllegalInstruction, OtherFault };

// The processor questions the probe asks, behind a seam so that tests can
// answer them with any combination.
struct CpuProbeOps {
    std::uint32_t (*cpuidLeaf1Edx)();
    SseTrial (*tryXorps)();
};

// The real processor and operating system.
const CpuProbeOps& NativeCpuProbeOps();

int HasMmx(const CpuProbeOps& ops = NativeCpuProbeOps());
int HasUsableSse(const CpuProbeOps& ops = NativeCpuProbeOps());
int ComposeCpuCaps(const CpuProbeOps& ops = NativeCpuProbeOps());

}  // namespace lowpass
