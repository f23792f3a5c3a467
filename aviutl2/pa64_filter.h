// The pixel path of the 64-bit plug-in: an RGBA image of 16-bit unsigned
// samples with premultiplied alpha (the editor's PA64 format), low-passed
// in place by the engines, which work on signed 16-bit samples three to a
// pixel.
//
// Working scale. Each 16-bit sample v is taken to 13 bits,
// s = round(v * 8191 / 65535), and brought back the same way. 13 bits keep
// more than the 12 that must survive, and leave the engines their
// headroom: the largest kernel (rectangular window, N = 15) has taps whose
// magnitudes sum to 2.104 (positive taps 1.552, negative 0.552), so after
// both passes a sample of 0 .. 8191 lies within -14031 .. 22231, and the
// portable engine's 32-bit sums stay below 2.104 * 65536 * 12712 < 2^31.
// Nothing wraps (portable engine) and nothing saturates (SSE arithmetic,
// at +-32767). 14 bits would not fit: 2.714 * 16383 > 32767.
//
// Alpha is filtered with the colours by the same kernel, so premultiplied
// data gets no fringes; an image whose alpha is 65535 everywhere skips the
// alpha work and stays opaque. After the passes alpha is clamped to
// 0 .. 8191 and each colour to 0 .. its alpha, so the result is valid
// premultiplied data.
//
// Memory. The image itself is the only full-size buffer: the horizontal
// pass runs in bands of kBandRows rows and keeps its results, still in the
// working scale, in the image's own samples; the vertical pass runs in
// strips of kStripColumns columns and writes the final samples back. Each
// band of a BandRunner holds four small frames: at most
// 2 * 24 * 6 * (1 + 1/3) * max(w, h) bytes, 6 MiB for a 16384-pixel side.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl2/settings.h"
#include "core/bands.h"
#include "core/frame_driver.h"
#include "host/aviutl2_api.h"

namespace lowpass::auf2 {

constexpr int kWorkingBits = 13;
constexpr int kWorkingMax = (1 << kWorkingBits) - 1;
constexpr std::uint16_t kSampleMax = 65535;

// Lines per unit of work: rows per band of the horizontal pass, columns
// per strip of the vertical one. Multiples of 3, because alpha is packed
// three lines to one line of pixels (see pa64_filter.cpp).
constexpr int kBandRows = 24;
constexpr int kStripColumns = 24;

// Bytes of working frames one band holds at most, for an image whose
// longer side is `side` pixels.
constexpr std::size_t WorkingBytesPerBand(int side) {
    return 2 * static_cast<std::size_t>(side) * sizeof(PIXEL_YC) * (kBandRows + (kBandRows + 2) / 3);
}

constexpr int ToWorking(std::uint16_t v) {
    return static_cast<int>((static_cast<std::uint32_t>(v) * kWorkingMax + kSampleMax / 2) / kSampleMax);
}
// s in 0 .. kWorkingMax.
constexpr std::uint16_t FromWorking(int s) {
    return static_cast<std::uint16_t>((static_cast<std::uint32_t>(s) * kSampleMax + kWorkingMax / 2) /
                                      kWorkingMax);
}

struct Pa64Image {
    aviutl2::PIXEL_PA64* pixels;
    int w;
    int h;
    std::ptrdiff_t stride;  // pixels per row, >= w
};

// Whether the settings low-pass an image of this size at all: only an
// image wider than X or taller than Y is touched.
inline bool NeedsPasses(const FilterSettings& settings, int w, int h) { return w > settings.x || h > settings.y; }

// True when every alpha sample is 65535.
bool IsOpaque(const Pa64Image& image);

enum class FilterResult {
    kUnchanged,    // no pass was needed; nothing was written
    kFiltered,     // the image holds the result
    kOutOfMemory,  // a band's working frames could not be allocated: the
                   // image holds partial results and must not be used
};

// Low-passes the image in place: across if it is wider than X, down if it
// is taller than Y, with the engine's passes, in bands on `bands` (or all
// on this thread when null). The kernel is designed here, for this image
// and these settings, so that calls share nothing.
FilterResult FilterImage(const Pa64Image& image, const FilterSettings& settings, const PassPair& passes,
                         const BandRunner* bands);

}  // namespace lowpass::auf2
