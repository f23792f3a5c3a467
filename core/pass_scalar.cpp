#include "core/pass_scalar.h"

#include <cstdint>

#include "core/kernel_tables.h"

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
    const auto rounded = static_cast<std::int32_t>(sum + static_cast<std::uint32_t>(kFixedHalf));
    return static_cast<std::int16_t>(rounded >> kFixedShift);
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

void HorizontalPassScalar(const PassJob& job) {
    const std::int32_t* taps = job.tables->fixedTaps;
    for (int r = job.first; r < job.end; ++r) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(r) * job.stride;
        FilterLine(job.source + row, job.destination + row, job.w, 1, taps, job.taps);
    }
}

void VerticalPassScalar(const PassJob& job) {
    const int n = job.taps;
    const int h = job.h;
    const std::ptrdiff_t stride = job.stride;
    const std::int32_t* taps = job.tables->fixedTaps;
    const int kernel = 2 * n + 1;
    const PIXEL_YC* src = job.source;
    PIXEL_YC* dst = job.destination;
    // Row by row, column by column within the band, so the destination is
    // written in memory order and each source row is reused across the row.
    for (int r = 0; r < h; ++r) {
        PIXEL_YC* out = dst + r * stride;
        if (r >= n && r + n < h) {
            const PIXEL_YC* top = src + (r - n) * stride;
            for (int x = job.first; x < job.end; ++x) {
                Sums s;
                for (int k = 0; k < kernel; ++k) s.Add(top[k * stride + x], taps[k]);
                out[x] = Finish(s);
            }
        } else {
            for (int x = job.first; x < job.end; ++x) {
                Sums s;
                for (int k = 0; k < kernel; ++k) s.Add(src[Clamp(r + k - n, h) * stride + x], taps[k]);
                out[x] = Finish(s);
            }
        }
    }
}

}  // namespace lowpass
