#include "core/frame_driver.h"

#include <utility>

namespace lowpass {

namespace {

// Band `band` of `bands`: its share of the lines (or blocks) first .. end - 1.
struct Share {
    int first;
    int end;
};
Share ShareOf(int first, int end, int band, int bands) {
    const long long count = end - first;
    return Share{first + static_cast<int>(count * band / bands), first + static_cast<int>(count * (band + 1) / bands)};
}

// A pass of one direction (a PassJob) or both passes at once (a FusedJob),
// split into as many bands as the runner has threads: each band produces a
// contiguous range of the job's lines or blocks.
template <class Job>
struct Banded {
    void (*run)(const Job& job);
    void (*afterBand)();  // the engine's afterPasses: a band leaves its thread as it found it
    Job job;              // first/end span the whole of it
};

template <class Job>
void RunBand(int band, int bands, void* argument) {
    const auto& banded = *static_cast<const Banded<Job>*>(argument);
    if (bands < 1 || band < 0 || band >= bands) return;
    Job job = banded.job;
    const Share share = ShareOf(banded.job.first, banded.job.end, band, bands);
    job.first = share.first;
    job.end = share.end;
    if (job.first >= job.end) return;
    banded.run(job);
    // A band may run on a thread of the host's that does floating-point
    // work of its own next: it must not be left in MMX state.
    if (banded.afterBand != nullptr) banded.afterBand();
}

// Runs body(band, bands, argument) for every band of the runner, or as one
// band on this thread.
void RunBanded(const FrameContext& context, BandBody body, void* argument) {
    if (context.bands != nullptr && context.bands->run != nullptr &&
        context.bands->run(context.bands->context, body, argument))
        return;
    body(0, 1, argument);
}

void RunPass(const FrameContext& context, Pass pass, void (*afterBand)(), const PassJob& job) {
    Banded<PassJob> banded{pass, afterBand, job};
    RunBanded(context, RunBand<PassJob>, &banded);
}

// The horizontal pass over the rows near block boundaries only, from edit
// into temp: the list of FusedBlocks::BoundaryRow entries, which the bands
// share out; each band runs one job per boundary it has entries of.
struct BoundaryRows {
    Pass horizontal;
    void (*afterBand)();
    PassJob job;  // first/end unused
    FusedBlocks blocks;
};

void RunBoundaryBand(int band, int bands, void* argument) {
    const auto& rows = *static_cast<const BoundaryRows*>(argument);
    if (bands < 1 || band < 0 || band >= bands) return;
    const Share share = ShareOf(0, rows.blocks.BoundaryEntries(), band, bands);
    bool ran = false;
    for (int entry = share.first; entry < share.end;) {
        const int next = rows.blocks.NextBoundaryEntry(entry);
        const int last = share.end < next ? share.end : next;  // this boundary's entries in the band end here
        PassJob job = rows.job;
        job.first = rows.blocks.BoundaryRow(entry);
        job.end = rows.blocks.BoundaryRow(last - 1) + 1;
        if (job.end > job.h) job.end = job.h;
        if (job.first < job.end) {
            rows.horizontal(job);
            ran = true;
        }
        entry = last;
    }
    if (ran && rows.afterBand != nullptr) rows.afterBand();
}

bool FusedTakes(const PassPair& passes, const FrameBuffers& frame, int n) {
    return passes.fused != nullptr && n >= 1 && n <= passes.fusedTaps && frame.w >= 2 * n + 1 &&
           frame.h >= 2 * n + 1;
}

void RunFused(const FrameContext& context, const PassPair& passes, const FrameBuffers& frame, int n) {
    const KernelCache& cache = *context.cache;
    const FusedBlocks blocks(frame.h, n);
    if (blocks.count() > 1) {
        BoundaryRows rows{passes.horizontal, passes.afterPasses,
                          PassJob{frame.edit, frame.temp, frame.w, frame.h, frame.stride, n, &cache.horizontal,
                                  cache.roundingBias, 0, 0},
                          blocks};
        RunBanded(context, RunBoundaryBand, &rows);
    }
    Banded<FusedJob> banded{passes.fused, passes.afterPasses,
                            FusedJob{frame.edit, frame.temp, frame.w, frame.h, frame.stride, n, &cache.horizontal,
                                     &cache.vertical, cache.roundingBias, blocks, 0, blocks.count()}};
    RunBanded(context, RunBand<FusedJob>, &banded);
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
    const int n = ClampTaps(settings.taps);
    if (frame.w > settings.x && frame.h > settings.y && FusedTakes(passes, frame, n)) {
        RunFused(context, passes, frame, n);
        if (passes.afterPasses != nullptr) passes.afterPasses();
        return;
    }
    if (frame.w > settings.x) {
        RunPass(context, passes.horizontal, passes.afterPasses, JobFor(frame, settings, cache.horizontal, cache, frame.h));
        std::swap(frame.edit, frame.temp);
    }
    if (frame.h > settings.y) {
        RunPass(context, passes.vertical, passes.afterPasses, JobFor(frame, settings, cache.vertical, cache, frame.w));
        std::swap(frame.edit, frame.temp);
    }
    if (passes.afterPasses != nullptr) passes.afterPasses();
}

}  // namespace lowpass
