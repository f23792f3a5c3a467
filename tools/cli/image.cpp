#include "tools/cli/image.h"

#include <png.h>

#include <algorithm>
#include <cmath>

#include "tools/cli/bitmap_font.h"
#include "tools/cli/cli_error.h"
#include "tools/cli/sample_map.h"

namespace lowpass::cli {

RgbImage::RgbImage(int w, int h, Rgb fill) : width(w), height(h), pixels(static_cast<std::size_t>(w) * h * 3) {
    FillRect(0, 0, w - 1, h - 1, fill);
}

void RgbImage::Set(int x, int y, Rgb c) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
    p[0] = c.r;
    p[1] = c.g;
    p[2] = c.b;
}

Rgb RgbImage::Get(int x, int y) const {
    const std::uint8_t* p = &pixels[(static_cast<std::size_t>(y) * width + x) * 3];
    return Rgb{p[0], p[1], p[2]};
}

void RgbImage::FillRect(int x0, int y0, int x1, int y1, Rgb c) {
    for (int y = std::max(0, y0); y <= std::min(height - 1, y1); ++y)
        for (int x = std::max(0, x0); x <= std::min(width - 1, x1); ++x) Set(x, y, c);
}

void RgbImage::Line(double x0, double y0, double x1, double y1, Rgb c, int thickness) {
    // Steps of at most half a pixel along the line, a square brush at each.
    const double length = std::hypot(x1 - x0, y1 - y0);
    const int steps = std::max(1, static_cast<int>(std::ceil(length * 2)));
    const int lo = -(thickness - 1) / 2;
    const int hi = thickness / 2;
    for (int i = 0; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const int x = static_cast<int>(std::lround(x0 + (x1 - x0) * t));
        const int y = static_cast<int>(std::lround(y0 + (y1 - y0) * t));
        FillRect(x + lo, y + lo, x + hi, y + hi, c);
    }
}

void RgbImage::Text(int x, int y, const std::string& text, Rgb c, int scale) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::uint8_t* rows = GlyphRows(text[i]);
        const int left = x + static_cast<int>(i) * kGlyphAdvance * scale;
        for (int r = 0; r < kGlyphHeight; ++r)
            for (int col = 0; col < kGlyphWidth; ++col)
                if (rows[r] & (0x10 >> col))
                    FillRect(left + col * scale, y + r * scale, left + col * scale + scale - 1,
                             y + r * scale + scale - 1, c);
    }
}

int RgbImage::TextWidth(const std::string& text, int scale) {
    return text.empty() ? 0 : (static_cast<int>(text.size()) * kGlyphAdvance - 1) * scale;
}

GreyImage LumaImage(const Picture& picture) {
    GreyImage image;
    image.width = picture.width;
    image.height = picture.height;
    image.pixels.resize(picture.pixels.size());
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) image.pixels[i] = LumaTo8(picture.pixels[i].y);
    return image;
}

namespace {

void Write(const std::string& path, int width, int height, png_uint_32 format, const std::uint8_t* data, int channels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    if (!png_image_write_to_file(&image, path.c_str(), 0, data, width * channels, nullptr)) {
        const std::string why = image.message;
        png_image_free(&image);
        throw CliError(kExitIo, "cannot write " + path + ": " + why);
    }
}

}  // namespace

void WritePng(const std::string& path, const GreyImage& image) {
    Write(path, image.width, image.height, PNG_FORMAT_GRAY, image.pixels.data(), 1);
}

void WritePng(const std::string& path, const RgbImage& image) {
    Write(path, image.width, image.height, PNG_FORMAT_RGB, image.pixels.data(), 3);
}

}  // namespace lowpass::cli
