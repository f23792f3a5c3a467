#include "plugin/host_threads.h"

#include <atomic>

#include "simd/mxcsr.h"

namespace lowpass {

namespace {

// One pass on the host's workers. Lives on the calling thread's stack for
// the length of one exec_multi_thread_func call.
struct HostPass {
    HostPass(const HostThreads* t, BandBody b, void* a) : threads(t), body(b), argument(a) {
        for (auto& flag : claimed) flag.store(false, std::memory_order_relaxed);
    }

    const HostThreads* threads;
    BandBody body;
    void* argument;
    // 0 until the first worker fixes the number of bands.
    std::atomic<int> bands{0};
    // Set by whoever runs the band, so that no band runs twice.
    std::atomic<bool> claimed[kMaxHostBands];

    bool Claim(int band) { return !claimed[band].exchange(true, std::memory_order_acq_rel); }
};

void LP_CDECL HostWorker(int threadId, int threadNum, void* p1, void* /*p2*/) {
    HostPass& pass = *static_cast<HostPass*>(p1);
    if (threadNum < 1) return;
    const int wanted = threadNum < kMaxHostBands ? threadNum : kMaxHostBands;
    int bands = 0;
    if (!pass.bands.compare_exchange_strong(bands, wanted, std::memory_order_acq_rel)) {
        // Another worker came first: its count stands.
        if (bands != wanted) return;
    }
    if (threadId < 0 || threadId >= wanted || !pass.Claim(threadId)) return;

    const HostThreads& threads = *pass.threads;
    std::uint32_t own = 0;
    if (threads.copyMxcsr) {
        own = ReadMxcsr();
        WriteMxcsr(threads.mxcsr);
    }
    pass.body(threadId, wanted, pass.argument);
    if (threads.copyMxcsr) WriteMxcsr(own);
}

}  // namespace

bool RunBandsOnHostThreads(void* context, BandBody body, void* argument) {
    HostPass pass(static_cast<const HostThreads*>(context), body, argument);
    // The answer does not matter: the bands no worker ran run here.
    (void)pass.threads->exec(HostWorker, &pass, nullptr);
    const int bands = pass.bands.load(std::memory_order_acquire);
    if (bands == 0) return false;  // no worker took part: the driver runs the pass as one band
    for (int band = 0; band < bands; ++band)
        if (pass.Claim(band)) body(band, bands, argument);
    return true;
}

}  // namespace lowpass
