// A small 5 x 7 pixel font (with two rows for descenders) for the labels
// of the demo's plot.
#pragma once

#include <cstdint>
#include <string>

namespace lowpass::cli {

// Rows of the glyph for c, top to bottom; bit 4 is the leftmost column.
// Characters without a glyph come out as an empty box.
const std::uint8_t* GlyphRows(char c);

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 9;  // 7 down to the baseline, 2 below
constexpr int kGlyphAdvance = 6;  // one blank column between characters

}  // namespace lowpass::cli
