// A frame as the tool holds it between reading and filtering: w x h host
// pixels, packed row after row (no slack).
#pragma once

#include <cstddef>
#include <vector>

#include "host/host_api.h"

namespace lowpass::cli {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<PIXEL_YC> pixels;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h), pixels(static_cast<std::size_t>(w) * static_cast<std::size_t>(h)) {}

    PIXEL_YC& at(int x, int y) { return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)]; }
    const PIXEL_YC& at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

}  // namespace lowpass::cli
