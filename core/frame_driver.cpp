#include "core/frame_driver.h"

#include <utility>

namespace lowpass {

namespace {

// The pass of one direction, split into as many bands as the runner has
// threads: each band produces a contiguous range of lines.
struct BandedPass {
    Pass pass;
    PassJob job;  // first/end span the whole pass
};

void RunBand(int band, int bands, void* argument) {
    const auto& banded = *static_cast<const BandedPass*>(argument);
    if (bands < 1 || band < 0 || band >= bands) return;
    PassJob job = banded.job;
    const long long lines = banded.job.end - banded.job.first;
    job.first = banded.job.first + static_cast<int>(lines * band / bands);
    job.end = banded.job.first + static_cast<int>(lines * (band + 1) / bands);
    if (job.first < job.end) banded.pass(job);
}

void RunPass(const FrameContext& context, Pass pass, const PassJob& job) {
    BandedPass banded{pass, job};
    if (context.bands != nullptr && context.bands->run != nullptr &&
        context.bands->run(context.bands->context, RunBand, &banded))
        return;
    RunBand(0, 1, &banded);
}

PassJob JobFor(const FrameBuffers& frame, const KernelSettings& settings, const KernelTables& tables,
               const KernelCache& cache, int lines) {
    return PassJob{frame.edit, frame.temp,       frame.w, frame.h, frame.stride, ClampTaps(settings.taps),
                   &tables,    cache.roundingBias, 0,       lines};
}

}  // namespace

void RunFramePasses(const FrameContext& context, const KernelSettings& settings, FrameBuffers& frame,
                    const PassPair& passes) {
    KernelCache& cache = *context.cache;
    if (!KernelCacheFits(cache, settings, frame.w, frame.h)) {
        if (context.beforeKernelDesign != nullptr) context.beforeKernelDesign();
        RebuildKernel(cache, settings, frame.w, frame.h);
    }
    if (frame.w > settings.x) {
        RunPass(context, passes.horizontal, JobFor(frame, settings, cache.horizontal, cache, frame.h));
        std::swap(frame.edit, frame.temp);
    }
    if (frame.h > settings.y) {
        RunPass(context, passes.vertical, JobFor(frame, settings, cache.vertical, cache, frame.w));
        std::swap(frame.edit, frame.temp);
    }
    if (passes.afterPasses != nullptr) passes.afterPasses();
}

}  // namespace lowpass
