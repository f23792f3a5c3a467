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

#include "core/kernel_tables.h"
#include "simd/line_terms.h"
#include "simd/pixel_io_mmx.h"

namespace lowpass {

namespace {

using Tap = float[4];

// Aligned 16-byte load of a table entry.
inline __m128 LoadTap(const Tap& entry) { return _mm_load_ps(entry); }

// Four int16 lanes to four float32 lanes: sign mask interleaved above each
// sample, then two lanes per conversion.
inline __m128 Widen(__m64 samples) { return _mm_cvtpi16_ps(samples); }

// Four float32 lanes to four int16 lanes: each half converted under the
// rounding control, then packed with signed saturation.
inline __m64 Narrow(__m128 values) { return _mm_cvtps_pi16(values); }

inline __m128 Pixel(const PIXEL_YC* p) { return Widen(Load8(p)); }

inline __m128 LastPixel(const PIXEL_YC* p) { return Widen(LoadLastPixel(p)); }

inline __m128 Add(__m128 a, __m128 b) { return _mm_add_ps(a, b); }

// Sum of table entries first .. last in float32, from zero, ascending.
inline __m128 EdgeWeight(const Tap* taps, int first, int last) {
    return lowpass::EdgeWeight(taps, first, last, _mm_setzero_ps(), LoadTap, Add);
}

// Converted pixels of the current row, kept so that each pixel is widened
// once however many outputs use it. Pixel i lives in slot i % 64, which
// holds every pixel that four neighbouring outputs need (2N + 4 <= 34).
struct PixelRing {
    static_assert(kMaxKernelLength + 3 <= 64, "the ring holds every pixel of four neighbouring outputs");
    __m128 slot[64];
    const __m128& operator[](int i) const { return slot[i & 63]; }
    __m128& operator[](int i) { return slot[i & 63]; }
};

// acc += c[k] * pixel, for taps first .. last over the pixels starting at
// index `firstPixel`.
inline __m128 AddProducts(__m128 acc, const PixelRing& ring, int firstPixel, const Tap* taps, int first,
                          int last) {
    for (int k = first; k <= last; ++k)
        acc = _mm_add_ps(acc, _mm_mul_ps(LoadTap(taps[k]), ring[firstPixel + (k - first)]));
    return acc;
}

struct RowTerm {
    int row;
    __m128 coefficient;
};

// The terms of output row r, in summing order, and whether 0.5 starts the
// sum (middle and bottom rows) or ends it (top rows).
int ColumnTerms(RowTerm* terms, bool* biasFirst, const Tap* taps, int r, int h, int n) {
    LineTerm line[kMaxKernelLength];
    const int count = LineTerms(line, r, h, n);
    for (int t = 0; t < count; ++t)
        terms[t] = RowTerm{line[t].position, TermWeight(taps, line[t], _mm_setzero_ps(), LoadTap, Add)};
    *biasFirst = r >= n;
    return count;
}

// The vertical pass works on strips of up to kStripGroups sample groups
// (eight samples each). Within a strip, each source row is widened once into
// a ring of 32 converted rows, which holds every row an output row needs.
constexpr int kStripGroups = 16;

struct RowRing {
    static_assert(kMaxKernelLength <= 32, "the ring holds every row of the largest kernel");
    alignas(16) float row[32][kStripGroups * 8];
    float* operator[](int r) { return row[r & 31]; }
};

// Widens `groups` sample groups of a source row (the last of them holding
// only `lastGroupSamples` samples, 1 to 8) into a ring row.
void WidenStrip(float* into, const std::int16_t* from, int groups, int lastGroupSamples) {
    for (int g = 0; g < groups; ++g) {
        const std::int16_t* in = from + 8 * g;
        std::int16_t copy[8] = {};
        if (g == groups - 1 && lastGroupSamples < 8) {
            std::memcpy(copy, in, static_cast<std::size_t>(lastGroupSamples) * sizeof(std::int16_t));
            in = copy;
        }
        _mm_store_ps(into + 8 * g, Widen(Load8(in)));
        _mm_store_ps(into + 8 * g + 4, Widen(Load8(in + 4)));
    }
}

}  // namespace

void HorizontalPassSse(const PassJob& job) {
    const Tap* taps = job.tables->sseTaps;
    const __m128 bias = _mm_load_ps(job.roundingBias);
    const int w = job.w;
    const int n = job.taps;
    PixelRing ring;
    for (int r = job.first; r < job.end; ++r) {
        const PIXEL_YC* s = job.source + static_cast<std::ptrdiff_t>(r) * job.stride;
        PIXEL_YC* d = job.destination + static_cast<std::ptrdiff_t>(r) * job.stride;
        const __m128 last = LastPixel(s + w - 1);
        // Widens pixels up to and including `upTo` that are not yet in the
        // ring; the row's last pixel comes from its own 6-byte load.
        int widened = 0;
        auto widenUpTo = [&](int upTo) {
            for (; widened <= upTo; ++widened) ring[widened] = widened == w - 1 ? last : Pixel(s + widened);
        };

        // Left edge: W * p[0], then the in-range taps, then 0.5.
        for (int p = 0; p < n; ++p) {
            widenUpTo(p + n);
            __m128 acc = _mm_mul_ps(EdgeWeight(taps, 0, n - p), ring[0]);
            acc = AddProducts(acc, ring, 1, taps, n - p + 1, 2 * n);
            Store8(d + p, Narrow(_mm_add_ps(acc, bias)));
        }
        // Middle: 0, every tap, then 0.5. Four neighbouring outputs are
        // summed side by side, each in its own order, so that their chains
        // of additions overlap.
        int x = n;
        for (; x + 3 < w - n; x += 4) {
            widenUpTo(x + 3 + n);
            __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
            for (int k = 0; k <= 2 * n; ++k) {
                const __m128 c = LoadTap(taps[k]);
                const int at = x - n + k;
                a0 = _mm_add_ps(a0, _mm_mul_ps(c, ring[at]));
                a1 = _mm_add_ps(a1, _mm_mul_ps(c, ring[at + 1]));
                a2 = _mm_add_ps(a2, _mm_mul_ps(c, ring[at + 2]));
                a3 = _mm_add_ps(a3, _mm_mul_ps(c, ring[at + 3]));
            }
            Store8(d + x, Narrow(_mm_add_ps(a0, bias)));
            Store8(d + x + 1, Narrow(_mm_add_ps(a1, bias)));
            Store8(d + x + 2, Narrow(_mm_add_ps(a2, bias)));
            Store8(d + x + 3, Narrow(_mm_add_ps(a3, bias)));
        }
        for (; x < w - n; ++x) {
            widenUpTo(x + n);
            const __m128 acc = AddProducts(_mm_setzero_ps(), ring, x - n, taps, 0, 2 * n);
            Store8(d + x, Narrow(_mm_add_ps(acc, bias)));
        }
        // Right edge: 0, the in-range taps, W * p[w - 1], then 0.5.
        for (int j = 0; j < n; ++j) {
            const int p = w - n + j;
            __m128 acc = AddProducts(_mm_setzero_ps(), ring, p - n, taps, 0, 2 * n - j - 2);
            acc = _mm_add_ps(acc, _mm_mul_ps(EdgeWeight(taps, 2 * n - j - 1, 2 * n), last));
            const __m64 result = Narrow(_mm_add_ps(acc, bias));
            if (p < w - 1)
                Store8(d + p, result);
            else
                StoreLastPixel(d + p, result);
        }
    }
}

void VerticalPassSse(const PassJob& job) {
    const Tap* taps = job.tables->sseTaps;
    const __m128 bias = _mm_load_ps(job.roundingBias);
    const int h = job.h;
    const int n = job.taps;
    const std::ptrdiff_t strideSamples = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const auto* src = reinterpret_cast<const std::int16_t*>(job.source + job.first);
    auto* dst = reinterpret_cast<std::int16_t*>(job.destination + job.first);
    // Groups of eight consecutive samples of the band, regardless of pixel
    // boundaries; the band's last group may hold fewer (1 to 8).
    const int samples = 3 * (job.end - job.first);
    const int groups = (samples + 7) >> 3;
    const int lastGroupSamples = samples - 8 * (groups - 1);
    RowTerm terms[kMaxKernelLength];
    RowRing ring;

    for (int g0 = 0; g0 < groups; g0 += kStripGroups) {
        const int stripGroups = groups - g0 < kStripGroups ? groups - g0 : kStripGroups;
        const bool stripHasTail = g0 + stripGroups == groups;
        const int stripLastSamples = stripHasTail ? lastGroupSamples : 8;
        int widened = 0;
        for (int r = 0; r < h; ++r) {
            const int upTo = r + n < h ? r + n : h - 1;
            for (; widened <= upTo; ++widened)
                WidenStrip(ring[widened], src + widened * strideSamples + 8 * g0, stripGroups, stripLastSamples);

            bool biasFirst = false;
            const int count = ColumnTerms(terms, &biasFirst, taps, r, h, n);
            std::int16_t* out = dst + r * strideSamples + 8 * g0;
            for (int g = 0; g < stripGroups; ++g) {
                __m128 a0 = biasFirst ? bias : _mm_setzero_ps();
                __m128 a1 = a0;
                for (int t = 0; t < count; ++t) {
                    const float* in = ring[terms[t].row] + 8 * g;
                    a0 = _mm_add_ps(a0, _mm_mul_ps(terms[t].coefficient, _mm_load_ps(in)));
                    a1 = _mm_add_ps(a1, _mm_mul_ps(terms[t].coefficient, _mm_load_ps(in + 4)));
                }
                if (!biasFirst) {
                    a0 = _mm_add_ps(a0, bias);
                    a1 = _mm_add_ps(a1, bias);
                }
                const __m64 low = Narrow(a0);
                const __m64 high = Narrow(a1);
                if (g == stripGroups - 1 && stripLastSamples < 8) {
                    std::int16_t result[8];
                    Store8(result, low);
                    Store8(result + 4, high);
                    std::memcpy(out + 8 * g, result, static_cast<std::size_t>(stripLastSamples) * sizeof(std::int16_t));
                } else {
                    Store8(out + 8 * g, low);
                    Store8(out + 8 * g + 4, high);
                }
            }
        }
    }
}

}  // namespace lowpass
