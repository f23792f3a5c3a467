#include "core/settings_update.h"

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "simd/cpu_probe.h"

namespace lowpass {

int windowMemory[5] = {0, 0, 0, 0, 0};

namespace {

constexpr int kFirstWindowBox = 1;
constexpr int kLastWindowBox = 4;

// Makes the four window boxes behave as one group of radio buttons. A box
// that is on but not remembered was just switched on by the user: it becomes
// the only one on. The remembered box switched off is switched on again.
// The scan runs over all four boxes, so when several are newly on at once
// (the first call after load) the lowest index wins: it clears the others
// before the scan reaches them.
void EnforceOneWindow(FILTER* fp) {
    int* check = fp->check;
    for (int i = kFirstWindowBox; i <= kLastWindowBox; ++i) {
        if (check[i] != 0 && windowMemory[i] == 0) {
            for (int j = kFirstWindowBox; j <= kLastWindowBox; ++j) {
                check[j] = 0;
                windowMemory[j] = 0;
            }
            check[i] = 1;
            windowMemory[i] = 1;
            fp->exfunc->filter_window_update(fp);
        } else if (check[i] == 0 && windowMemory[i] == 1) {
            check[i] = 1;
            fp->exfunc->filter_window_update(fp);
        }
    }
}

// Blackman also applies when no window box is on.
WindowWeights ChosenWindow(const int* check) {
    if (check[1] != 0) return kRectangularWindow;
    if (check[2] != 0) return kHanningWindow;
    if (check[3] != 0) return kHammingWindow;
    return kBlackmanWindow;
}

// The SIMD box allows the vector engines; the fastest one the processor and
// the system support is then used. With the box off the portable engine
// runs, never MMX.
FilterProcFunc ChosenEngine(const int* check) {
    if (check[0] != 0 && (cpuCaps & kCpuCapsSse) != 0) return ProcSse;
    if (check[0] != 0 && (cpuCaps & kCpuCapsMmx) != 0) return ProcMmx;
    return ProcScalar;
}

}  // namespace

BOOL LP_CDECL UpdateSettings(FILTER* fp, int /*status*/) {
    InvalidateKernelCache();
    EnforceOneWindow(fp);
    windowWeights = ChosenWindow(fp->check);
    fp->func_proc = ChosenEngine(fp->check);
    return TRUE;
}

}  // namespace lowpass
