#include "aviutl2/thread_bands.h"

#include <xmmintrin.h>

#include <thread>
#include <vector>

namespace lowpass::auf2 {

namespace {

bool RunOnThreads(void* /*context*/, BandBody body, void* argument) {
    const unsigned hardware = std::thread::hardware_concurrency();
    const int bands = hardware == 0 ? 1 : (hardware > kMaxBands ? kMaxBands : static_cast<int>(hardware));
    // The SSE arithmetic rounds under the thread's control register: every
    // band runs under the caller's, so that the result does not depend on
    // which thread filtered which lines.
    const unsigned control = _mm_getcsr();
    std::vector<std::thread> threads;
    int started = 1;
    try {
        threads.reserve(static_cast<std::size_t>(bands - 1));
        for (; started < bands; ++started) {
            const int band = started;
            threads.emplace_back([=] {
                _mm_setcsr(control);
                body(band, bands, argument);
            });
        }
    } catch (const std::exception&) {
        // Out of threads or memory: the calling thread does the rest.
    }
    body(0, bands, argument);
    for (int band = started; band < bands; ++band) body(band, bands, argument);
    for (std::thread& t : threads) t.join();
    return true;
}

const BandRunner kThreadBands{RunOnThreads, nullptr};

}  // namespace

const BandRunner& ThreadBands() { return kThreadBands; }

}  // namespace lowpass::auf2
