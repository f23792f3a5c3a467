#include "aviutl2/engine_choice.h"

#include "simd/float_engines.h"

namespace lowpass::auf2 {

namespace {

const FloatEngine& Choose(bool simd) {
    const auto engines = FloatEngines();
    if (simd) {
        const int caps = FloatEngineCaps();
        for (auto it = engines.rbegin(); it != engines.rend(); ++it)
            if ((caps & it->needs) == it->needs) return *it;
    }
    return engines.front();
}

}  // namespace

const FloatPasses& ChoosePasses(bool simd) { return Choose(simd).passes; }

const char* ChosenEngineName(bool simd) { return Choose(simd).name; }

}  // namespace lowpass::auf2
