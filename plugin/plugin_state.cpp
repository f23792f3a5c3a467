#include "plugin/plugin_state.h"

namespace lowpass {

KernelCache kernelCache;
WindowWeights windowWeights;
int cpuCaps = 0;
int sseImplementations = 0;
int windowMemory[5] = {0, 0, 0, 0, 0};

}  // namespace lowpass
