// The SSE engine's passes. Built with MMX and SSE enabled, nothing newer.
//
// Samples are widened from int16 to float32 (exactly), multiplied by the
// float32 coefficients and summed in float32 in a fixed order; 0.5 is
// added, and the sum is converted to int32 under the thread's SSE rounding
// control (two lanes at a time) and packed to int16 with signed
// saturation. Taps beyond an edge are folded into one edge weight, summed
// in float32 from zero in ascending tap order, that multiplies the edge
// sample once. Where 0.5 enters the sum differs by run and must not move:
// last in every horizontal output and in the top rows of the vertical pass,
// first in the vertical pass's middle and bottom rows.
//
// Row tails are handled as in the MMX engine: the row's last pixel is
// loaded from exactly its 6 bytes and stored as exactly 6 bytes, and the
// vertical pass's last, partial sample group goes through a local copy.
#include "simd/pass_sse.h"

#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstdint>
#include <cstring>

#include "core/kernel.h"

namespace lowpass {

namespace {

using Tap = float[4];

using UnalignedM64 = __m64 __attribute__((__may_alias__, __aligned__(1)));

inline __m64 Load8(const void* p) { return *static_cast<const UnalignedM64*>(p); }
inline void Store8(void* p, __m64 v) { *static_cast<UnalignedM64*>(p) = v; }

// Aligned 16-byte load of a table entry.
inline __m128 LoadTap(const Tap& entry) { return _mm_load_ps(entry); }

// Four int16 lanes to four float32 lanes: sign mask interleaved above each
// sample, then two lanes per conversion.
inline __m128 Widen(__m64 samples) { return _mm_cvtpi16_ps(samples); }

// Four float32 lanes to four int16 lanes: each half converted under the
// rounding control, then packed with signed saturation.
inline __m64 Narrow(__m128 values) { return _mm_cvtps_pi16(values); }

inline __m128 Pixel(const PIXEL_YC* p) { return Widen(Load8(p)); }

inline __m128 LastPixel(const PIXEL_YC* p) {
    std::int32_t ycb;
    std::memcpy(&ycb, p, 4);
    const std::int32_t cr = static_cast<std::uint16_t>(p->cr);
    return Widen(_mm_unpacklo_pi32(_mm_cvtsi32_si64(ycb), _mm_cvtsi32_si64(cr)));
}

inline void StoreLastPixel(PIXEL_YC* p, __m64 v) {
    const std::int32_t ycb = _mm_cvtsi64_si32(v);
    const auto cr = static_cast<std::int16_t>(_mm_cvtsi64_si32(_mm_srli_si64(v, 32)));
    std::memcpy(p, &ycb, 4);
    std::memcpy(&p->cr, &cr, 2);
}

// Sum of table entries first .. last in float32, from zero, ascending.
inline __m128 EdgeWeight(const Tap* taps, int first, int last) {
    __m128 weight = _mm_setzero_ps();
    for (int k = first; k <= last; ++k) weight = _mm_add_ps(weight, LoadTap(taps[k]));
    return weight;
}

// acc += c[k] * pixel, for taps first .. last over the pixels starting at
// `pixels`, none of which is the row's last.
inline __m128 AddProducts(__m128 acc, const PIXEL_YC* pixels, const Tap* taps, int first, int last) {
    for (int k = first; k <= last; ++k)
        acc = _mm_add_ps(acc, _mm_mul_ps(LoadTap(taps[k]), Pixel(pixels + (k - first))));
    return acc;
}

struct RowTerm {
    int row;
    __m128 coefficient;
};

// The terms of output row r, in summing order, and whether 0.5 starts the
// sum (middle and bottom rows) or ends it (top rows).
int ColumnTerms(RowTerm* terms, bool* biasFirst, const Tap* taps, int r, int h, int n) {
    int count = 0;
    if (r < n) {
        *biasFirst = false;
        terms[count++] = RowTerm{0, EdgeWeight(taps, 0, n - r)};
        for (int k = n - r + 1; k <= 2 * n; ++k) terms[count++] = RowTerm{r + k - n, LoadTap(taps[k])};
    } else if (r < h - n) {
        *biasFirst = true;
        for (int k = 0; k <= 2 * n; ++k) terms[count++] = RowTerm{r + k - n, LoadTap(taps[k])};
    } else {
        *biasFirst = true;
        const int j = r - (h - n);
        for (int k = 0; k <= 2 * n - j - 2; ++k) terms[count++] = RowTerm{r + k - n, LoadTap(taps[k])};
        terms[count++] = RowTerm{h - 1, EdgeWeight(taps, 2 * n - j - 1, 2 * n)};
    }
    return count;
}

// One group of eight samples filtered down its columns.
inline void FilterGroup(const std::int16_t* const* rows, const RowTerm* terms, int count, bool biasFirst,
                        __m128 bias, __m64* low, __m64* high) {
    __m128 a0 = biasFirst ? bias : _mm_setzero_ps();
    __m128 a1 = a0;
    for (int t = 0; t < count; ++t) {
        const std::int16_t* in = rows[t];
        a0 = _mm_add_ps(a0, _mm_mul_ps(terms[t].coefficient, Widen(Load8(in))));
        a1 = _mm_add_ps(a1, _mm_mul_ps(terms[t].coefficient, Widen(Load8(in + 4))));
    }
    if (!biasFirst) {
        a0 = _mm_add_ps(a0, bias);
        a1 = _mm_add_ps(a1, bias);
    }
    *low = Narrow(a0);
    *high = Narrow(a1);
}

}  // namespace

void HorizontalPassSse(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n) {
    const Tap* taps = kernelCache.horizontal.sseTaps;
    const __m128 bias = _mm_load_ps(kernelCache.roundingBias);
    for (int r = 0; r < h; ++r) {
        const PIXEL_YC* s = source + static_cast<std::ptrdiff_t>(r) * max_w;
        PIXEL_YC* d = destination + static_cast<std::ptrdiff_t>(r) * max_w;
        const __m128 last = LastPixel(s + w - 1);

        // Left edge: W * p[0], then the in-range taps, then 0.5.
        for (int p = 0; p < n; ++p) {
            __m128 acc = _mm_mul_ps(EdgeWeight(taps, 0, n - p), Pixel(s));
            acc = AddProducts(acc, s + 1, taps, n - p + 1, 2 * n);
            Store8(d + p, Narrow(_mm_add_ps(acc, bias)));
        }
        // Middle: 0, every tap, then 0.5; the last middle output's
        // rightmost tap is the row's last pixel.
        for (int p = n; p < w - n - 1; ++p) {
            const __m128 acc = AddProducts(_mm_setzero_ps(), s + p - n, taps, 0, 2 * n);
            Store8(d + p, Narrow(_mm_add_ps(acc, bias)));
        }
        {
            const int p = w - n - 1;
            __m128 acc = AddProducts(_mm_setzero_ps(), s + p - n, taps, 0, 2 * n - 1);
            acc = _mm_add_ps(acc, _mm_mul_ps(LoadTap(taps[2 * n]), last));
            Store8(d + p, Narrow(_mm_add_ps(acc, bias)));
        }
        // Right edge: 0, the in-range taps, W * p[w - 1], then 0.5.
        for (int j = 0; j < n; ++j) {
            const int p = w - n + j;
            __m128 acc = AddProducts(_mm_setzero_ps(), s + p - n, taps, 0, 2 * n - j - 2);
            acc = _mm_add_ps(acc, _mm_mul_ps(EdgeWeight(taps, 2 * n - j - 1, 2 * n), last));
            const __m64 result = Narrow(_mm_add_ps(acc, bias));
            if (p < w - 1)
                Store8(d + p, result);
            else
                StoreLastPixel(d + p, result);
        }
    }
}

void VerticalPassSse(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int max_w, int n) {
    const Tap* taps = kernelCache.vertical.sseTaps;
    const __m128 bias = _mm_load_ps(kernelCache.roundingBias);
    const std::ptrdiff_t strideSamples = static_cast<std::ptrdiff_t>(max_w) * 3;
    const auto* src = reinterpret_cast<const std::int16_t*>(source);
    auto* dst = reinterpret_cast<std::int16_t*>(destination);
    // Groups of eight consecutive samples, regardless of pixel boundaries;
    // the row's last group may hold fewer and goes through a local copy.
    const int samples = 3 * w;
    const int fullGroups = samples / 8;
    const int tailSamples = samples % 8;
    RowTerm terms[kMaxKernelLength];
    const std::int16_t* rows[kMaxKernelLength];

    for (int r = 0; r < h; ++r) {
        bool biasFirst = false;
        const int count = ColumnTerms(terms, &biasFirst, taps, r, h, n);
        std::int16_t* out = dst + r * strideSamples;
        for (int t = 0; t < count; ++t) rows[t] = src + terms[t].row * strideSamples;
        for (int g = 0; g < fullGroups; ++g) {
            __m64 low, high;
            FilterGroup(rows, terms, count, biasFirst, bias, &low, &high);
            Store8(out + 8 * g, low);
            Store8(out + 8 * g + 4, high);
            for (int t = 0; t < count; ++t) rows[t] += 8;
        }
        if (tailSamples != 0) {
            const std::size_t bytes = static_cast<std::size_t>(tailSamples) * sizeof(std::int16_t);
            std::int16_t copies[kMaxKernelLength][8] = {};
            const std::int16_t* tail[kMaxKernelLength];
            for (int t = 0; t < count; ++t) {
                std::memcpy(copies[t], rows[t], bytes);
                tail[t] = copies[t];
            }
            __m64 low, high;
            FilterGroup(tail, terms, count, biasFirst, bias, &low, &high);
            std::int16_t result[8];
            Store8(result, low);
            Store8(result + 4, high);
            std::memcpy(out + 8 * fullGroups, result, bytes);
        }
    }
}

}  // namespace lowpass
