#include "aviutl2/engine_choice.h"

#include "simd/cpu_probe.h"
#include "simd/engines.h"

namespace lowpass::auf2 {

namespace {

// Implementations of the SSE arithmetic, fastest first.
constexpr const char* kSseArithmetic[] = {"avx2", "sse2", "sse"};

const Engine& Choose(bool simd) {
    if (simd) {
        // Asked once; the answer never changes.
        static const int caps = ComposeCpuCaps() | ProbeSseImplementations();
        for (const char* name : kSseArithmetic) {
            const Engine* engine = FindEngine(name);
            if (engine != nullptr && CanRun(*engine, caps)) return *engine;
        }
    }
    return PortableEngine();
}

}  // namespace

const PassPair& ChoosePasses(bool simd) { return Choose(simd).passes; }

const char* ChosenEngineName(bool simd) { return Choose(simd).name; }

}  // namespace lowpass::auf2
