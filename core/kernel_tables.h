// The coefficient tables the engines read, and the numbers that size and
// scale them.
#pragma once

#include <cstdint>

namespace lowpass {

// Largest kernel half-length; every table has room for 2 * kMaxTaps + 1 taps.
constexpr int kMaxTaps = 15;
constexpr int kMaxKernelLength = 2 * kMaxTaps + 1;

// The portable engine's coefficients: 16.16 fixed point. A sum of products
// is rounded by adding half a unit and shifting right by 16.
constexpr int kFixedShift = 16;
constexpr double kFixedOne = 65536.0;
constexpr std::int32_t kFixedHalf = 0x8000;

// The MMX engine's coefficients: 2.14 fixed point. A sample shifted left by
// 2 times a 2.14 coefficient gives the product in sample units in the upper
// 16 bits of the 32-bit result.
constexpr double kMmxOne = 16384.0;
constexpr int kMmxPreShift = 2;

// One direction's kernel in the three numeric forms, tap k weighting the
// sample at offset k - N.
struct KernelTables {
    std::int32_t fixedTaps[kMaxKernelLength];        // 16.16 fixed point
    std::int16_t mmxTaps[kMaxKernelLength][4];       // 2.14 fixed point, four copies
    alignas(16) float sseTaps[kMaxKernelLength][4];  // float32, four copies
};

// Cosine-power weights of a window: its value at offset i is
// a0 + a1*c + a2*c*c with c = cos(pi * (1 - i/N)).
struct WindowWeights {
    double a0;
    double a1;
    double a2;
};

constexpr WindowWeights kRectangularWindow{1.0, 0.0, 0.0};
constexpr WindowWeights kHanningWindow{0.5, -0.5, 0.0};
constexpr WindowWeights kHammingWindow{0.54, -0.46, 0.0};
constexpr WindowWeights kBlackmanWindow{0.34, -0.5, 0.16};

}  // namespace lowpass
