// lowpass-engines: the registry of engines (simd/engines.cpp) as text, one
// line per engine, and which of them this processor and system run:
//
//   engine NAME samples=int16|half-float needs=FEATURES isa=SET source=FILE
//          arithmetic=A same-as=E front-ends=LIST fused=N runs-here=yes|no
//
// (same-as=- where the engine's tests compare it with the plain model of
// its arithmetic): the frame engines, then the image engines (64-bit builds
// only). Then one line per instruction set with the kinds of
// instruction the scan of lowpass.auf (tools/check-auf.sh) allows in a file
// built with it:
//
//   isa SET kinds=mmx,sse,...
//
// The scan takes which file may hold which instructions from these lines.
#include <cstdio>
#include <string>

#include "simd/cpu_probe.h"
#include "simd/engines.h"

namespace {

std::string FrontEnds(unsigned bits) {
    std::string names;
    if (bits & lowpass::kFrontEndAuf) names += "auf";
    if (bits & lowpass::kFrontEndAuf2) {
        if (!names.empty()) names += ',';
        names += "auf2";
    }
    return names.empty() ? "-" : names;
}

std::string Needs(int bits) {
    std::string names;
    for (const lowpass::CpuFeature& feature : lowpass::kCpuFeatures) {
        if ((bits & feature.bit) == 0) continue;
        if (!names.empty()) names += ',';
        names += feature.name;
    }
    return names.empty() ? "-" : names;
}

// The kinds the scan sorts vector instructions into (tools/check-auf.sh):
// mmx (on MMX registers, and EMMS), sse (the SSE set), sse2 (any other
// instruction on XMM registers), avx (VEX-encoded, or on YMM registers),
// avx512 (EVEX-encoded, or on ZMM or mask registers). A file built with a
// set may hold that set's kinds: the compiler uses SSE instructions where
// SSE2 is enabled, and VEX encodings of them where AVX is.
const char* KindsOf(lowpass::InstructionSet isa) {
    switch (isa) {
        case lowpass::InstructionSet::Base: return "";
        case lowpass::InstructionSet::Mmx: return "mmx";
        case lowpass::InstructionSet::Sse: return "mmx,sse";
        case lowpass::InstructionSet::Sse2: return "sse,sse2";
        case lowpass::InstructionSet::Avx2: return "sse,sse2,avx";
        case lowpass::InstructionSet::Avx2F16c: return "sse,sse2,avx";
        case lowpass::InstructionSet::Avx512: return "sse,sse2,avx,avx512";
    }
    return "";
}

void Print(const lowpass::Engine& engine, int features) {
    std::printf(
        "engine %s samples=%s needs=%s isa=%s source=%s arithmetic=%s same-as=%s front-ends=%s fused=%d "
        "runs-here=%s\n",
        engine.name, engine.samples == lowpass::Samples::Int16 ? "int16" : "half-float", Needs(engine.needs).c_str(),
        lowpass::InstructionSetName(engine.isa), engine.source, lowpass::ArithmeticName(engine.arithmetic),
        engine.sameAs != nullptr ? engine.sameAs : "-", FrontEnds(engine.frontEnds).c_str(),
        engine.passes.fused != nullptr ? engine.passes.fusedTaps : 0, lowpass::CanRun(engine, features) ? "yes" : "no");
}

}  // namespace

int main() {
    const int features = lowpass::ProbeFeatures();
    for (const lowpass::Engine& engine : lowpass::Engines()) Print(engine, features);
    for (const lowpass::Engine& engine : lowpass::ImageEngines()) Print(engine, features);
    for (auto isa : {lowpass::InstructionSet::Base, lowpass::InstructionSet::Mmx, lowpass::InstructionSet::Sse,
                     lowpass::InstructionSet::Sse2, lowpass::InstructionSet::Avx2, lowpass::InstructionSet::Avx2F16c,
                     lowpass::InstructionSet::Avx512})
        std::printf("isa %s kinds=%s\n", lowpass::InstructionSetName(isa), KindsOf(isa));
    return 0;
}
