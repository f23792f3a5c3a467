// The SSE control and status register (MXCSR): its rounding control decides
// how the SSE engine converts its float32 sums to integers. Only for a
// processor with SSE (CpuCaps bit kCpuCapsSse): these are SSE instructions.
#pragma once

#include <cstdint>

namespace lowpass {

std::uint32_t ReadMxcsr();
void WriteMxcsr(std::uint32_t value);

// MXCSR's rounding control (bits 13-14): to nearest, down, up, toward zero.
constexpr std::uint32_t kMxcsrRoundingMask = 0x6000;
constexpr std::uint32_t kMxcsrRoundNearest = 0x0000;
constexpr std::uint32_t kMxcsrRoundDown = 0x2000;
constexpr std::uint32_t kMxcsrRoundUp = 0x4000;
constexpr std::uint32_t kMxcsrRoundTowardZero = 0x6000;

}  // namespace lowpass
