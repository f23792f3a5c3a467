#include "plugin/settings_update.h"

#include "core/kernel.h"
#include "plugin/filter_settings.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/engines.h"

namespace lowpass {

namespace {

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
    if (check[kCheckRectangular] != 0) return kRectangularWindow;
    if (check[kCheckHanning] != 0) return kHanningWindow;
    if (check[kCheckHamming] != 0) return kHammingWindow;
    return kBlackmanWindow;
}

}  // namespace

BOOL LP_CDECL UpdateSettings(FILTER* fp, int /*status*/) {
    InvalidateKernelCache(kernelCache);
    EnforceOneWindow(fp);
    windowWeights = ChosenWindow(fp->check);
    // The SIMD box allows the vector engines; the most preferred one the
    // processor and the system support is then used. With the box off the
    // portable engine runs, never MMX.
    fp->func_proc = FrameProcFor(ChooseEngine(kFrontEndAuf, fp->check[kCheckSimd] != 0, EngineCaps()));
    return TRUE;
}

}  // namespace lowpass
