// The MMX and SSE frame drivers: the common driver procedure with a vector
// engine's passes, followed by EMMS whether or not a pass ran.
//
// The vector passes need a line of at least 2N + 1 samples in their
// direction. Targets below the sliders' minimum (set by a size message) can
// send a shorter frame here; that direction then runs the portable pass,
// which handles any size. No floating-point code runs between the passes
// and the EMMS.
#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/pass_mmx.h"
#include "simd/pass_sse.h"

namespace lowpass {

namespace {

using VectorPass = void (*)(const PIXEL_YC*, PIXEL_YC*, int, int, int, int);

template <VectorPass Pass, FramePass Portable, bool kHorizontal>
void RunVectorPass(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int n = TapCount(fp);
    const int length = kHorizontal ? fpip->w : fpip->h;
    const int across = kHorizontal ? fpip->h : fpip->w;
    if (across < 1) return;  // an empty picture: nothing to write
    if (n < 1 || length < 2 * n + 1) {
        Portable(fp, fpip);
        return;
    }
    Pass(fpip->ycp_edit, fpip->ycp_temp, fpip->w, fpip->h, fpip->max_w, n);
}

}  // namespace

BOOL LP_CDECL ProcMmx(FILTER* fp, FILTER_PROC_INFO* fpip) {
    static const PassPair mmx{RunVectorPass<HorizontalPassMmx, HorizontalPassScalar, true>,
                              RunVectorPass<VerticalPassMmx, VerticalPassScalar, false>, ClearMmxState};
    return RunFramePasses(fp, fpip, mmx);
}

BOOL LP_CDECL ProcSse(FILTER* fp, FILTER_PROC_INFO* fpip) {
    static const PassPair sse{RunVectorPass<HorizontalPassSse, HorizontalPassScalar, true>,
                              RunVectorPass<VerticalPassSse, VerticalPassScalar, false>, ClearMmxState};
    return RunFramePasses(fp, fpip, sse);
}

}  // namespace lowpass
