#include "simd/float_engines.h"

#include "simd/cpu_probe.h"

namespace lowpass {

namespace {

const FloatEngine kFloatEngines[] = {
    {"portable", 0, kFloatPassesPortable},
    {"avx2", kCpuCapsAvx2 | kCpuCapsF16c,
     FloatPasses{HalfToFloatRowAvx2, HorizontalFloatPassAvx2, VerticalFloatPassAvx2, FinishHalfRowAvx2,
                 ScanHalfRowAvx2}},
};

}  // namespace

std::span<const FloatEngine> FloatEngines() { return kFloatEngines; }

const FloatEngine* FindFloatEngine(std::string_view name) {
    for (const FloatEngine& engine : kFloatEngines)
        if (name == engine.name) return &engine;
    return nullptr;
}

int FloatEngineCaps() {
    static const int caps = ProbeSseImplementations() | (HasUsableF16c() ? kCpuCapsF16c : 0);
    return caps;
}

}  // namespace lowpass
