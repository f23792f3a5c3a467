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

#include <array>
#include <cstdint>

namespace lowpass::cli {

namespace detail {

// floor(n / d) for d > 0, whatever the sign of n.
constexpr int FloorDiv(int n, int d) { return n >= 0 ? n / d : -((-n + d - 1) / d); }

constexpr std::uint8_t Clip8(int v) { return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

}  // namespace detail

// (y8 - 16) * 4096 / 219 + 1/2 = ((y8 - 16) * 8192 + 219) / 438
constexpr std::int16_t LumaFrom8(int y8) {
    return static_cast<std::int16_t>(detail::FloorDiv((y8 - 16) * 8192 + 219, 438));
}

// (c8 - 128) * 4096 / 224 + 1/2 = ((c8 - 128) * 8192 + 224) / 448
constexpr std::int16_t ChromaFrom8(int c8) {
    return static_cast<std::int16_t>(detail::FloorDiv((c8 - 128) * 8192 + 224, 448));
}

// y * 219 / 4096 + 1/2 = (y * 438 + 4096) / 8192, floored by the arithmetic
// shift; |y| <= 32768 keeps the product within int.
constexpr std::uint8_t LumaTo8(int yHost) { return detail::Clip8(16 + ((yHost * 438 + 4096) >> 13)); }

constexpr std::uint8_t ChromaTo8(int cHost) { return detail::Clip8(128 + ((cHost * 448 + 4096) >> 13)); }

// The way in for all 256 values, for decoding whole frames.
struct SampleTables {
    std::array<std::int16_t, 256> luma;
    std::array<std::int16_t, 256> chroma;
};

constexpr SampleTables MakeSampleTables() {
    SampleTables t{};
    for (int v = 0; v < 256; ++v) {
        t.luma[static_cast<std::size_t>(v)] = LumaFrom8(v);
        t.chroma[static_cast<std::size_t>(v)] = ChromaFrom8(v);
    }
    return t;
}

inline constexpr SampleTables kSampleTables = MakeSampleTables();

}  // namespace lowpass::cli
