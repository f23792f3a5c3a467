// The implementations of the float passes (core/float_pass.h), in one
// small table: name, what the processor must offer, the passes. They all
// give the same bits; the 64-bit plug-in's SIMD box chooses among them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "core/float_pass.h"

namespace lowpass {

struct FloatEngine {
    const char* name;  // "portable", "avx2"
    int needs;         // capability bits (kCpuCaps...) the processor must offer
    FloatPasses passes;
};

// The portable implementation first, the most preferred last.
std::span<const FloatEngine> FloatEngines();

// The implementation of that name, or null.
const FloatEngine* FindFloatEngine(std::string_view name);

// The capability bits the float implementations ask about, as the
// processor offers them (asked once).
int FloatEngineCaps();

// The AVX2 and F16C implementation (simd/float_pass_avx2.cpp).
void HalfToFloatRowAvx2(const std::uint16_t* halves, float* out, int count);
void HorizontalFloatPassAvx2(const FloatAcrossJob& job);
void VerticalFloatPassAvx2(const FloatDownJob& job);
void FinishHalfRowAvx2(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque);
int ScanHalfRowAvx2(const std::uint16_t* halves, int w);

}  // namespace lowpass
