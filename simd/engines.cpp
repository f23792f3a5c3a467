#include "simd/engines.h"

#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "simd/pass_mmx.h"
#include "simd/pass_sse.h"
#include "simd/pass_sse_wide.h"
#if LOWPASS_IMAGE_ENGINES
#include "simd/float_pass_avx2.h"
#endif

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

// An engine's two pass pairs from its passes: as written, and guarded for
// the front ends.
struct PassPairs {
    PassPair unguarded;
    PassPair passes;
};

template <Pass kHorizontal, Pass kVertical>
constexpr PassPairs VectorPasses(void (*afterPasses)(), FusedPass fused = nullptr, int fusedTaps = 0) {
    return PassPairs{PassPair{kHorizontal, kVertical, afterPasses, fused, fusedTaps},
                     PassPair{GuardedPass<kHorizontal, HorizontalPassScalar, true>,
                              GuardedPass<kVertical, VerticalPassScalar, false>, afterPasses, fused, fusedTaps}};
}

constexpr PassPairs PortablePasses() {
    const PassPair pair{HorizontalPassScalar, VerticalPassScalar, nullptr};
    return PassPairs{pair, pair};
}

// One entry of the table.
constexpr Engine Entry(const char* name, int needs, InstructionSet isa, const char* source, Arithmetic arithmetic,
                       const char* sameAs, unsigned frontEnds, const PassPairs& pairs) {
    return Engine{name,           needs,           isa,          source,       arithmetic, sameAs, frontEnds,
                  Samples::Int16, pairs.unguarded, pairs.passes, FloatPasses{}};
}

// One entry of the image engines: they run in lowpass.auf2 and take any
// line length.
constexpr Engine ImageEntry(const char* name, int needs, InstructionSet isa, const char* source, const char* sameAs,
                            const FloatPasses& passes) {
    return Engine{name,       needs,      isa,   source, Arithmetic::Float, sameAs, kFrontEndAuf2, Samples::HalfFloat,
                  PassPair{}, PassPair{}, passes};
}

// Up to which N the wide implementations run both passes at once: where
// that was faster than the two passes at 720 x 480 and 1920 x 1080 on the
// machine docs/performance.md names. Beyond, the horizontal sums, which both ways
// compute once per sample, weigh more than the memory the fused passes
// save, and their longer loops run slower. The SSE2 passes of the 32-bit
// build (eight registers) gain up to N = 4, those of the 64-bit build only
// at N = 1.
constexpr int kSse2FusedTaps = sizeof(void*) == 8 ? 1 : 4;
constexpr int kAvx2FusedTaps = 3;
constexpr int kAvx512FusedTaps = 3;
static_assert(kSse2FusedTaps <= kWideFusedMaxTaps && kAvx2FusedTaps <= kWideFusedMaxTaps &&
              kAvx512FusedTaps <= kWideFusedMaxTaps);

constexpr Engine kEngines[] = {
    Entry("portable", 0, InstructionSet::Base, "core/pass_scalar.cpp", Arithmetic::Portable, nullptr, kFrontEndAuf,
          PortablePasses()),
    // MMX leaves the processor in MMX state: cleared after the passes.
    Entry("mmx", kCpuCapsMmx, InstructionSet::Mmx, "simd/pass_mmx.cpp", Arithmetic::Mmx, nullptr, kFrontEndAuf,
          VectorPasses<HorizontalPassMmx, VerticalPassMmx>(ClearMmxState)),
    // Chosen on the SSE bit alone, which the probe never reports without
    // MMX. Its conversions use the MMX registers too.
    Entry("sse", kCpuCapsSse, InstructionSet::Sse, "simd/pass_sse.cpp", Arithmetic::Sse, nullptr, kFrontEndAuf,
          VectorPasses<HorizontalPassSse, VerticalPassSse>(ClearMmxState)),
    // The same arithmetic as "sse", output for output, at the width of
    // SSE2, AVX2 and AVX-512 registers; faster, so preferred where they can
    // run.
    // They use no MMX register: nothing to clear after them.
    Entry("sse2", kCpuCapsSse | kCpuCapsSse2, InstructionSet::Sse2, "simd/pass_sse2.cpp", Arithmetic::Sse, "sse",
          kFrontEndAuf, VectorPasses<HorizontalPassSse2, VerticalPassSse2>(nullptr, FusedPassesSse2, kSse2FusedTaps)),
    Entry("avx2", kCpuCapsSse | kCpuCapsSse2 | kCpuCapsAvx2, InstructionSet::Avx2, "simd/pass_avx2.cpp",
          Arithmetic::Sse, "sse", kFrontEndAuf,
          VectorPasses<HorizontalPassAvx2, VerticalPassAvx2>(nullptr, FusedPassesAvx2, kAvx2FusedTaps)),
    Entry("avx512", kCpuCapsSse | kCpuCapsSse2 | kCpuCapsAvx2 | kCpuCapsAvx512, InstructionSet::Avx512,
          "simd/pass_avx512.cpp", Arithmetic::Sse, "sse", kFrontEndAuf,
          VectorPasses<HorizontalPassAvx512, VerticalPassAvx512>(nullptr, FusedPassesAvx512, kAvx512FusedTaps)),
};

// The image engines: the float passes of lowpass.auf2 (64-bit builds
// only). Both give the same bits, and their tests compare each with the
// plain model of the float arithmetic; the AVX2 one converts halves with
// F16C.
#if LOWPASS_IMAGE_ENGINES
constexpr Engine kImageEngines[] = {
    ImageEntry("float", 0, InstructionSet::Base, "core/float_pass.cpp", nullptr,
               FloatPasses{HalfToFloatRowPortable, HorizontalFloatPassPortable, VerticalFloatPassPortable,
                           FinishHalfRowPortable, ScanHalfRowPortable}),
    ImageEntry("float-avx2", kCpuCapsAvx2 | kCpuCapsF16c, InstructionSet::Avx2F16c, "simd/float_pass_avx2.cpp", nullptr,
               FloatPasses{HalfToFloatRowAvx2, HorizontalFloatPassAvx2, VerticalFloatPassAvx2, FinishHalfRowAvx2,
                           ScanHalfRowAvx2}),
};
#endif

static_assert(sizeof kEngines / sizeof kEngines[0] <= kMaxEngines);

}  // namespace

std::span<const Engine> Engines() { return kEngines; }

std::span<const Engine> ImageEngines() {
#if LOWPASS_IMAGE_ENGINES
    return kImageEngines;
#else
    return {};
#endif
}

const Engine* FindEngine(std::string_view name) {
    if (name == "scalar") return &PortableEngine();
    for (const Engine& engine : kEngines)
        if (name == engine.name) return &engine;
    return nullptr;
}

const Engine* FindImageEngine(std::string_view name) {
    for (const Engine& engine : ImageEngines())
        if (name == engine.name) return &engine;
    return nullptr;
}

const Engine& PortableEngine() { return kEngines[0]; }

const Engine& ChooseEngine(unsigned frontEnd, bool simd, int features) {
    const Engine* chosen = nullptr;
    for (const Engine& engine : frontEnd == kFrontEndAuf2 ? ImageEngines() : Engines()) {
        if ((engine.frontEnds & frontEnd) == 0) continue;
        if (chosen == nullptr || (simd && CanRun(engine, features))) chosen = &engine;
    }
    return chosen != nullptr ? *chosen : PortableEngine();
}

std::string FeatureNames(int bits) {
    std::string names;
    int listed = 0, total = 0;
    for (const CpuFeature& feature : kCpuFeatures)
        if ((bits & feature.bit) != 0) ++total;
    for (const CpuFeature& feature : kCpuFeatures) {
        if ((bits & feature.bit) == 0) continue;
        if (listed > 0) names += listed + 1 == total ? " and " : ", ";
        names += feature.name;
        ++listed;
    }
    return names.empty() ? "none" : names;
}

const char* ArithmeticName(Arithmetic arithmetic) {
    switch (arithmetic) {
        case Arithmetic::Portable: return "portable";
        case Arithmetic::Mmx: return "mmx";
        case Arithmetic::Sse: return "sse";
        case Arithmetic::Float: return "float";
    }
    return "?";
}

const char* InstructionSetName(InstructionSet isa) {
    switch (isa) {
        case InstructionSet::Base: return "base";
        case InstructionSet::Mmx: return "mmx";
        case InstructionSet::Sse: return "sse";
        case InstructionSet::Sse2: return "sse2";
        case InstructionSet::Avx2: return "avx2";
        case InstructionSet::Avx2F16c: return "avx2-f16c";
        case InstructionSet::Avx512: return "avx512";
    }
    return "?";
}

}  // namespace lowpass
