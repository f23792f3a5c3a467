// The plug-in's process-wide state. It is written only from the host's
// callbacks, which the host makes one at a time, and reset by the export
// when the host loads the module.
#pragma once

#include "core/kernel.h"

namespace lowpass {

// The tables of the last frame, with the size and settings they fit.
extern KernelCache kernelCache;

// The weights of the window the settings update chose last; zero until the
// first update, which makes the kernel a unit impulse.
extern WindowWeights windowWeights;

// What the processor allows: 0, kCpuCapsMmx, or kCpuCapsMmx | kCpuCapsSse.
extern int cpuCaps;

// Which faster implementations of the SSE arithmetic it allows as well:
// kCpuCapsSse2, kCpuCapsAvx2, kCpuCapsAvx512 (never without SSE in
// cpuCaps).
extern int sseImplementations;

// The bits the engines' needs are checked against.
inline int EngineCaps() { return cpuCaps | sseImplementations; }

// Which window box the filter last left switched on (entries 1..4, aligned
// with the check array; entry 0 unused).
extern int windowMemory[5];

}  // namespace lowpass
