// Which vector engines the processor and the operating system allow.
#pragma once

#include <cstdint>

namespace lowpass {

// Bit values of cpuCaps.
constexpr int kCpuCapsMmx = 1;
constexpr int kCpuCapsSse = 2;

// 0 (scalar only), 1 (MMX) or 3 (MMX and SSE); set when the host loads the
// module, consulted by the settings update.
extern int cpuCaps;

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

// EMMS: leaves MMX state so that floating-point code may run again.
void ClearMmxState();

}  // namespace lowpass
