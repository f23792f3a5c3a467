// 8-bit pictures for the demo, their PNG files (through libpng), and the
// few drawing operations the frequency-response plot needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/cli/picture.h"

namespace lowpass::cli {

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

struct Rgb {
    std::uint8_t r, g, b;
};

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // r, g, b per pixel

    RgbImage(int w, int h, Rgb fill);
    void Set(int x, int y, Rgb c);  // ignores points outside
    Rgb Get(int x, int y) const;
    void FillRect(int x0, int y0, int x1, int y1, Rgb c);  // inclusive corners
    // A line of the given thickness (pixels) between two points.
    void Line(double x0, double y0, double x1, double y1, Rgb c, int thickness = 1);
    // Text in the 5 x 7 font scaled by scale, top-left corner at (x, y).
    void Text(int x, int y, const std::string& text, Rgb c, int scale = 1);
    static int TextWidth(const std::string& text, int scale = 1);
};

// The luma of a host picture as 8-bit video luma (the tool's sample map).
GreyImage LumaImage(const Picture& picture);

// Throw CliError(kExitIo) when the file cannot be written.
void WritePng(const std::string& path, const GreyImage& image);
void WritePng(const std::string& path, const RgbImage& image);

}  // namespace lowpass::cli
