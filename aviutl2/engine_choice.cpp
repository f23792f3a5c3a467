#include "aviutl2/engine_choice.h"

#include "simd/cpu_probe.h"
#include "simd/engines.h"

namespace lowpass::auf2 {

namespace {

const Engine& Choose(bool simd) {
    // Asked once; the answer never changes.
    static const int features = ProbeFeatures();
    return ChooseEngine(kFrontEndAuf2, simd, features);
}

}  // namespace

const FloatPasses& ChoosePasses(bool simd) { return Choose(simd).image; }

const char* ChosenEngineName(bool simd) { return Choose(simd).name; }

}  // namespace lowpass::auf2
