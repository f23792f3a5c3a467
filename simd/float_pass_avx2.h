// The float passes with AVX2 and F16C (float_pass_avx2.cpp): the image
// engine "float-avx2" of the registry, bit for bit the portable float
// passes (core/float_pass.h).
#pragma once

#include <cstdint>

#include "core/float_pass.h"

namespace lowpass {

void HalfToFloatRowAvx2(const std::uint16_t* halves, float* out, int count);
void HorizontalFloatPassAvx2(const FloatAcrossJob& job);
void VerticalFloatPassAvx2(const FloatDownJob& job);
void FinishHalfRowAvx2(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque);
int ScanHalfRowAvx2(const std::uint16_t* halves, int w);

}  // namespace lowpass
