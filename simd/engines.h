// The engines the filter can run, in one table: each entry names the
// engine, what it needs from the processor, its two passes and what must
// run after them. Front ends choose from it (the plug-in's settings update
// by the SIMD box and the processor, the tool's --engine by name); tests
// and benchmarks walk it.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

#include "core/frame_driver.h"

namespace lowpass {

struct Engine {
    const char* name;  // "scalar", "mmx", "sse", "sse2", "avx2"
    int needs;         // capability bits the processor must offer (kCpuCaps...)
    // The passes as a front end runs them: a vector pass given a line too
    // short for its kernel (possible only with targets below the sliders'
    // range) hands the band to the portable pass, which handles any size.
    PassPair passes;
};

// Every engine, in the order the SIMD box prefers them: the portable one
// first, the most preferred last.
constexpr std::size_t kEngineCount = 5;
std::span<const Engine> Engines();

// The engine of that name, or null.
const Engine* FindEngine(std::string_view name);

// The portable engine, which runs everywhere.
const Engine& PortableEngine();

// True when a processor with capability word `caps` can run the engine.
inline bool CanRun(const Engine& engine, int caps) { return (caps & engine.needs) == engine.needs; }

}  // namespace lowpass
