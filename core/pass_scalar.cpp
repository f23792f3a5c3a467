#include "core/pass_scalar.h"

#include <cstdint>

#include "core/kernel.h"

namespace lowpass {

namespace {

// Three 32-bit accumulators that wrap on overflow. The sums are kept in
// unsigned arithmetic so the wrap is defined, then read back as signed.
struct Sums {
    std::uint32_t y = 0;
    std::uint32_t cb = 0;
    std::uint32_t cr = 0;

    void Add(const PIXEL_YC& p, std::int32_t tap) {
        const auto t = static_cast<std::uint32_t>(tap);
        y += static_cast<std::uint32_t>(static_cast<std::int32_t>(p.y)) * t;
        cb += static_cast<std::uint32_t>(static_cast<std::int32_t>(p.cb)) * t;
        cr += static_cast<std::uint32_t>(static_cast<std::int32_t>(p.cr)) * t;
    }
};

// (sum + 0x8000) >> 16 with an arithmetic shift, stored as its low 16 bits.
std::int16_t RoundFixed(std::uint32_t sum) {
    const auto rounded = static_cast<std::int32_t>(sum + 0x8000u);
    return static_cast<std::int16_t>(rounded >> 16);
}

PIXEL_YC Finish(const Sums& s) { return PIXEL_YC{RoundFixed(s.y), RoundFixed(s.cb), RoundFixed(s.cr)}; }

int Clamp(int i, int length) {
    if (i < 0) return 0;
    if (i >= length) return length - 1;
    return i;
}

// Filters one line of `length` pixels whose pixel i lies at src[i * step]
// into dst[i * step]. Positions where the whole kernel lies inside the line
// take the unclamped loop; the others clamp each tap's position.
void FilterLine(const PIXEL_YC* src, PIXEL_YC* dst, int length, std::ptrdiff_t step,
                const std::int32_t* taps, int n) {
    const int kernel = 2 * n + 1;
    for (int x = 0; x < length; ++x) {
        Sums s;
        if (x >= n && x + n < length) {
            const PIXEL_YC* p = src + (x - n) * step;
            for (int k = 0; k < kernel; ++k) s.Add(p[k * step], taps[k]);
        } else {
            for (int k = 0; k < kernel; ++k) s.Add(src[Clamp(x + k - n, length) * step], taps[k]);
        }
        dst[x * step] = Finish(s);
    }
}

}  // namespace

void HorizontalPassScalar(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int n = TapCount(fp);
    const std::int32_t* taps = kernelCache.horizontal.fixedTaps;
    for (int r = 0; r < fpip->h; ++r) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(r) * fpip->max_w;
        FilterLine(fpip->ycp_edit + row, fpip->ycp_temp + row, fpip->w, 1, taps, n);
    }
}

void VerticalPassScalar(FILTER* fp, FILTER_PROC_INFO* fpip) {
    const int n = TapCount(fp);
    const int w = fpip->w;
    const int h = fpip->h;
    const std::ptrdiff_t stride = fpip->max_w;
    const std::int32_t* taps = kernelCache.vertical.fixedTaps;
    const int kernel = 2 * n + 1;
    const PIXEL_YC* src = fpip->ycp_edit;
    PIXEL_YC* dst = fpip->ycp_temp;
    // Row by row, column by column, so the destination is written in memory
    // order and each source row is reused across the whole output row.
    for (int r = 0; r < h; ++r) {
        PIXEL_YC* out = dst + r * stride;
        if (r >= n && r + n < h) {
            const PIXEL_YC* top = src + (r - n) * stride;
            for (int x = 0; x < w; ++x) {
                Sums s;
                for (int k = 0; k < kernel; ++k) s.Add(top[k * stride + x], taps[k]);
                out[x] = Finish(s);
            }
        } else {
            for (int x = 0; x < w; ++x) {
                Sums s;
                for (int k = 0; k < kernel; ++k) s.Add(src[Clamp(r + k - n, h) * stride + x], taps[k]);
                out[x] = Finish(s);
            }
        }
    }
}

}  // namespace lowpass
