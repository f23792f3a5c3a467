#include "simd/engines.h"

#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "simd/pass_mmx.h"
#include "simd/pass_sse.h"
#include "simd/pass_sse_wide.h"

namespace lowpass {

namespace {

// A vector pass needs 1 <= N and a line of at least 2N + 1 samples in its
// direction; otherwise the band goes to the portable pass of the same
// direction.
template <Pass Vector, Pass Portable, bool kAcross>
void GuardedPass(const PassJob& job) {
    if (job.first >= job.end) return;  // nothing of the picture in this band
    const int length = kAcross ? job.w : job.h;
    if (job.taps < 1 || length < 2 * job.taps + 1) {
        Portable(job);
        return;
    }
    Vector(job);
}

// Up to which N the wide implementations run both passes at once: where
// that was faster than the two passes at 720 x 480 and 1920 x 1080 on the
// machine the README names. Beyond, the horizontal sums, which both ways
// compute once per sample, weigh more than the memory the fused passes
// save, and their longer loops run slower. The SSE2 passes of the 32-bit
// build (eight registers) gain up to N = 4, those of the 64-bit build only
// at N = 1.
constexpr int kSse2FusedTaps = sizeof(void*) == 8 ? 1 : 4;
constexpr int kAvx2FusedTaps = 3;
static_assert(kSse2FusedTaps <= kWideFusedMaxTaps && kAvx2FusedTaps <= kWideFusedMaxTaps);

constexpr Engine kEngines[] = {
    {"scalar", 0, {HorizontalPassScalar, VerticalPassScalar, nullptr}},
    {"mmx",
     kCpuCapsMmx,
     {GuardedPass<HorizontalPassMmx, HorizontalPassScalar, true>,
      GuardedPass<VerticalPassMmx, VerticalPassScalar, false>, ClearMmxState}},
    // Chosen on the SSE bit alone, which the probe never reports without
    // MMX.
    {"sse",
     kCpuCapsSse,
     {GuardedPass<HorizontalPassSse, HorizontalPassScalar, true>,
      GuardedPass<VerticalPassSse, VerticalPassScalar, false>, ClearMmxState}},
    // The same arithmetic as "sse", output for output, at the width of
    // SSE2 and of AVX2 registers; faster, so preferred where they can run.
    // They use no MMX register: nothing to clear after them.
    {"sse2",
     kCpuCapsSse | kCpuCapsSse2,
     {GuardedPass<HorizontalPassSse2, HorizontalPassScalar, true>,
      GuardedPass<VerticalPassSse2, VerticalPassScalar, false>, nullptr, FusedPassesSse2, kSse2FusedTaps}},
    {"avx2",
     kCpuCapsSse | kCpuCapsSse2 | kCpuCapsAvx2,
     {GuardedPass<HorizontalPassAvx2, HorizontalPassScalar, true>,
      GuardedPass<VerticalPassAvx2, VerticalPassScalar, false>, nullptr, FusedPassesAvx2, kAvx2FusedTaps}},
};

static_assert(sizeof kEngines / sizeof kEngines[0] == kEngineCount);

}  // namespace

std::span<const Engine> Engines() { return kEngines; }

const Engine* FindEngine(std::string_view name) {
    for (const Engine& engine : kEngines)
        if (name == engine.name) return &engine;
    return nullptr;
}

const Engine& PortableEngine() { return kEngines[0]; }

}  // namespace lowpass
