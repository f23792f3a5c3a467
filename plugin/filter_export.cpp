#include "plugin/filter_export.h"

#include "core/kernel.h"
#include "plugin/descriptor.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"

// The module's only export. On Windows the linker is told to export it
// undecorated; elsewhere everything else in the module is hidden.
#if defined(_WIN32)
#define LP_EXPORT __declspec(dllexport)
#else
#define LP_EXPORT __attribute__((visibility("default")))
#endif

extern "C" LP_EXPORT FILTER_DLL* LP_STDCALL GetFilterTable(void) {
    // Loading the module resets the filter's process-wide state: the tables
    // are rebuilt on the first frame, the processor is probed, and no window
    // box is remembered, so the first settings update takes the boxes as the
    // host restored them.
    lowpass::InvalidateKernelCache(lowpass::kernelCache);
    lowpass::cpuCaps = lowpass::ComposeCpuCaps();
    lowpass::sseImplementations = lowpass::ProbeSseImplementations();
    for (int& remembered : lowpass::windowMemory) remembered = 0;
    return &lowpass::filterDescriptor;
}
