#include "tools/cli/sample_map.h"

namespace lowpass::cli {

namespace {

// floor(n / d) for d > 0, whatever the sign of n.
int FloorDiv(int n, int d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

std::uint8_t Clip8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace

// (y8 - 16) * 4096 / 219 + 1/2 = ((y8 - 16) * 8192 + 219) / 438
std::int16_t LumaFrom8(int y8) { return static_cast<std::int16_t>(FloorDiv((y8 - 16) * 8192 + 219, 438)); }

// (c8 - 128) * 4096 / 224 + 1/2 = ((c8 - 128) * 8192 + 224) / 448
std::int16_t ChromaFrom8(int c8) { return static_cast<std::int16_t>(FloorDiv((c8 - 128) * 8192 + 224, 448)); }

// y * 219 / 4096 + 1/2 = (y * 438 + 4096) / 8192; |y| <= 32768 keeps this in int.
std::uint8_t LumaTo8(int yHost) { return Clip8(16 + FloorDiv(yHost * 438 + 4096, 8192)); }

std::uint8_t ChromaTo8(int cHost) { return Clip8(128 + FloorDiv(cHost * 448 + 4096, 8192)); }

}  // namespace lowpass::cli
