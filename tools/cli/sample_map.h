// How 8-bit video samples map onto the host's samples and back.
//
// The host's nominal ranges are y 0..4096 and cb, cr -2048..2048; 8-bit video
// has y 16..235 and cb, cr 16..240 (128 = no colour). The map is linear,
// rounds halves up and clips only on the way back to 8 bits:
//   y_host  = floor((y8 - 16) * 4096 / 219 + 1/2)
//   c_host  = floor((c8 - 128) * 4096 / 224 + 1/2)
//   y8      = clip(16 + floor(y_host * 219 / 4096 + 1/2), 0, 255)
//   c8      = clip(128 + floor(c_host * 224 / 4096 + 1/2), 0, 255)
// Every 8-bit value survives the round trip unchanged: one 8-bit step is
// more than 18 host units, so the rounding on the way in is undone on the
// way back.
#pragma once

#include <cstdint>

namespace lowpass::cli {

std::int16_t LumaFrom8(int y8);
std::int16_t ChromaFrom8(int c8);
std::uint8_t LumaTo8(int yHost);
std::uint8_t ChromaTo8(int cHost);

}  // namespace lowpass::cli
