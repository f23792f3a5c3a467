#include "core/frame_driver.h"

#include <utility>

#include "core/kernel.h"
#include "core/pass_scalar.h"

namespace lowpass {

BOOL RunFramePasses(FILTER* fp, FILTER_PROC_INFO* fpip, const PassPair& pair) {
    // Both directions' tables are rebuilt together whenever the cache does
    // not fit this frame, whichever passes will run.
    if (!kernelCache.valid || fpip->w != kernelCache.width || fpip->h != kernelCache.height) {
        Rebuild(fp, fpip);
    }
    if (fpip->w > fp->track[0]) {
        pair.horizontal(fp, fpip);
        std::swap(fpip->ycp_edit, fpip->ycp_temp);
    }
    if (fpip->h > fp->track[1]) {
        pair.vertical(fp, fpip);
        std::swap(fpip->ycp_edit, fpip->ycp_temp);
    }
    if (pair.afterPasses != nullptr) pair.afterPasses();
    return TRUE;
}

BOOL LP_CDECL ProcScalar(FILTER* fp, FILTER_PROC_INFO* fpip) {
    static const PassPair scalar{HorizontalPassScalar, VerticalPassScalar, nullptr};
    return RunFramePasses(fp, fpip, scalar);
}

}  // namespace lowpass
