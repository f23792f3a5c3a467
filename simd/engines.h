// The registry of engines: every implementation of the passes the filter
// has, each declared once (engines.cpp), with everything the rest of the
// system needs to know about it. The front ends' SIMD boxes, the tool's
// --engine, the stand-in host, the benchmark, the instruction-set scan of
// lowpass.auf (through tools/engines) and every engine test take their
// lists from here. HACKING.md, "Adding an engine", says how to add one.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/float_pass.h"
#include "core/frame_driver.h"

namespace lowpass {

// The numeric rules an engine follows: which coefficient table it reads,
// how it rounds, what it does at overflow. Engines of one arithmetic may
// still differ in their results unless one is declared the same as the
// other (Engine::sameAs).
enum class Arithmetic {
    Portable,  // 16.16 fixed point (fixedTaps), halves rounded up, sums wrap at 32 bits
    Mmx,       // 2.14 fixed point on 16-bit lanes (mmxTaps), every product rounded toward minus
               // infinity, sums wrap at 16 bits
    Sse,       // float32 (sseTaps), 0.5 added, converted under the thread's rounding control,
               // saturated to int16
    Float,     // float32 on half-float images, in the one order core/float_pass.h fixes; no
               // rounding to integers: every implementation gives the same bits
};

// What an engine's passes take. The frame engines filter the 1.x host's
// frames of int16 samples (PassJob, PassPair): AviUtl 1.x and the tool run
// them. The image engines filter the AviUtl2 editor's images of half
// floats in float32 (FloatPasses): lowpass.auf2 runs them. Each kind is
// chosen among its own (Engines(), ImageEngines()).
enum class Samples { Int16, HalfFloat };

// The instruction set an engine's file is built with (its flags:
// lowpass_engine_sources in simd/CMakeLists.txt); the scan of lowpass.auf
// allows that set's instructions in that file and nowhere else.
enum class InstructionSet { Base, Mmx, Sse, Sse2, Avx2, Avx2F16c, Avx512 };

// The front ends that may choose an engine.
enum FrontEnd : unsigned {
    kFrontEndAuf = 1u,   // lowpass.auf (AviUtl 1.x), and the tool, which hosts the same plug-in
    kFrontEndAuf2 = 2u,  // lowpass.auf2 (AviUtl2)
};

struct Engine {
    const char* name;    // its one name: the tool's --engine, the tests, the benchmark
    int needs;           // feature bits (cpu_probe.h) the processor and the system must offer
    InstructionSet isa;  // what its file is built with
    const char* source;  // the file holding its passes, from the source tree's root
    Arithmetic arithmetic;
    // The engine whose passes it equals byte for byte, for every input and
    // rounding mode: its tests compare it with that engine. Null: its tests
    // compare it with the plain model of its arithmetic.
    const char* sameAs;
    unsigned frontEnds;  // FrontEnd bits
    Samples samples;
    // The passes themselves: lines of at least 2N + 1 samples in their
    // direction and 1 <= N (any line for the portable arithmetic); both at
    // once up to fusedTaps where fused is set. What the tests check.
    PassPair unguarded;
    // The passes as front ends run them: a line too short for the kernel
    // (possible only with targets below the sliders' range) goes to the
    // portable pass of the same direction, which handles any size.
    PassPair passes;
    // An image engine's passes (Samples::HalfFloat; empty for the others),
    // which take any line length.
    FloatPasses image;
};

// The frame engines (Samples::Int16), in the order the SIMD box prefers
// them: the portable one first, the most preferred last.
std::span<const Engine> Engines();

// The image engines (Samples::HalfFloat), likewise; in 64-bit builds only
// (empty elsewhere).
std::span<const Engine> ImageEngines();

// The most engines the table may hold (the 1.x plug-in has one func_proc
// entry per engine).
constexpr std::size_t kMaxEngines = 16;

// The frame engine of that name, or null. "scalar", the portable engine's
// name in earlier versions, still names it.
const Engine* FindEngine(std::string_view name);

// The image engine of that name, or null.
const Engine* FindImageEngine(std::string_view name);

// The portable engine, which runs everywhere.
const Engine& PortableEngine();

// True when a processor and system with `features` can run the engine.
inline bool CanRun(const Engine& engine, int features) { return (features & engine.needs) == engine.needs; }

// The engine a front end runs, among the engines of its kind (frames for
// lowpass.auf, images for lowpass.auf2): with its SIMD box off the first
// engine it may use (the portable one), with the box on the last one it
// may use that `features` allow.
const Engine& ChooseEngine(unsigned frontEnd, bool simd, int features);

// "MMX, SSE and SSE2": the features in `bits`, by their names in
// cpu_probe.h ("none" for none).
std::string FeatureNames(int bits);

// Names, for reports and for the scan of lowpass.auf.
const char* ArithmeticName(Arithmetic arithmetic);
const char* InstructionSetName(InstructionSet isa);

}  // namespace lowpass
