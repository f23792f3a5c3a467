// The MMX engine's passes. Built with MMX enabled and nothing newer.
//
// Arithmetic per product: the sample is shifted left by 2 (16-bit wrap),
// then multiplied by the 2.14 coefficient keeping the high 16 bits of the
// 32-bit product, which floors it; products are summed with 16-bit wrap.
// Taps beyond an edge are folded into one edge weight (the 16-bit wrapping
// sum of their coefficients) that multiplies the edge sample once.
//
// Row tails: a pixel is loaded as 8 bytes (its three samples and the next
// pixel's y) only when it is not the last pixel of its row; the last pixel
// is assembled from exactly its 6 bytes, and the last output of a row is
// stored as exactly 6 bytes. The vertical pass loads and stores the last,
// partial column group of a row through a small local copy. So nothing
// outside the w x h pictures is read or written, even when a row ends at
// the very end of its allocation.
#include "simd/pass_mmx.h"

#include <mmintrin.h>

#include <cstdint>
#include <cstring>

#include "core/kernel_tables.h"
#include "simd/line_terms.h"
#include "simd/pixel_io_mmx.h"

namespace lowpass {

namespace {

using Tap = std::int16_t[4];

inline __m64 LoadTap(const Tap& entry) { return Load8(entry); }

// The sample shifted left by 2 (16-bit wrap) so that the upper half of its
// product with a 2.14 coefficient is in sample units.
inline __m64 PreShift(__m64 samples) { return _mm_slli_pi16(samples, kMmxPreShift); }

inline __m64 Product(__m64 samples, __m64 coefficient) { return _mm_mulhi_pi16(PreShift(samples), coefficient); }

// The 16-bit wrapping sum of table entries first .. last.
inline __m64 EdgeWeight(const Tap* taps, int first, int last) {
    return lowpass::EdgeWeight(taps, first, last, _mm_setzero_si64(), LoadTap,
                               [](__m64 a, __m64 b) { return _mm_add_pi16(a, b); });
}

// The current row's pixels, already shifted left by 2, so that each pixel
// is prepared once however many outputs use it. Pixel i lives in slot
// i % 32, which holds every pixel an output needs (2N + 1 <= 31).
struct PixelRing {
    __m64 slot[32];
    const __m64& operator[](int i) const { return slot[i & 31]; }
    __m64& operator[](int i) { return slot[i & 31]; }
};

// Adds the products of taps first .. last with the pixels from index
// `firstPixel` on.
// Wrapping 16-bit sums do not depend on the order of the additions, so the
// products go into two independent sums that are joined at the end.
inline __m64 AddProducts(__m64 acc, const PixelRing& ring, int firstPixel, const Tap* taps, int first, int last) {
    __m64 other = _mm_setzero_si64();
    int k = first;
    for (; k + 1 <= last; k += 2) {
        acc = _mm_add_pi16(acc, _mm_mulhi_pi16(ring[firstPixel + (k - first)], LoadTap(taps[k])));
        other = _mm_add_pi16(other, _mm_mulhi_pi16(ring[firstPixel + (k + 1 - first)], LoadTap(taps[k + 1])));
    }
    if (k <= last) acc = _mm_add_pi16(acc, _mm_mulhi_pi16(ring[firstPixel + (k - first)], LoadTap(taps[k])));
    return _mm_add_pi16(acc, other);
}

// One row term of a vertical output: a source row and the coefficient (or
// edge weight) that multiplies it.
struct RowTerm {
    int row;
    __m64 coefficient;
};

// The terms of output row r of a column of length h, in the order they are
// summed: the top edge weight first, the bottom edge weight last.
int ColumnTerms(RowTerm* terms, const Tap* taps, int r, int h, int n) {
    LineTerm line[kMaxKernelLength];
    const int count = LineTerms(line, r, h, n);
    for (int t = 0; t < count; ++t)
        terms[t] = RowTerm{line[t].position, TermWeight(taps, line[t], _mm_setzero_si64(), LoadTap,
                                                        [](__m64 a, __m64 b) { return _mm_add_pi16(a, b); })};
    return count;
}

}  // namespace

void HorizontalPassMmx(const PassJob& job) {
    const Tap* taps = job.tables->mmxTaps;
    const int w = job.w;
    const int n = job.taps;
    PixelRing ring;
    for (int r = job.first; r < job.end; ++r) {
        const PIXEL_YC* s = job.source + static_cast<std::ptrdiff_t>(r) * job.stride;
        PIXEL_YC* d = job.destination + static_cast<std::ptrdiff_t>(r) * job.stride;
        const __m64 last = PreShift(LoadLastPixel(s + w - 1));
        // Prepares pixels up to and including `upTo`; only the row's last
        // pixel comes from its own 6-byte load.
        int prepared = 0;
        auto prepareUpTo = [&](int upTo) {
            for (; prepared <= upTo; ++prepared)
                ring[prepared] = prepared == w - 1 ? last : PreShift(Load8(s + prepared));
        };

        // Near edge: the edge weight times pixel 0 is the first term.
        for (int p = 0; p < n; ++p) {
            prepareUpTo(p + n);
            __m64 acc = _mm_mulhi_pi16(ring[0], EdgeWeight(taps, 0, n - p));
            acc = AddProducts(acc, ring, 1, taps, n - p + 1, 2 * n);
            Store8(d + p, acc);
        }
        // Middle: every tap inside the row.
        for (int p = n; p < w - n; ++p) {
            prepareUpTo(p + n);
            Store8(d + p, AddProducts(_mm_setzero_si64(), ring, p - n, taps, 0, 2 * n));
        }
        // Far edge: the edge weight times the last pixel is the last term.
        for (int j = 0; j < n; ++j) {
            const int p = w - n + j;
            __m64 acc = AddProducts(_mm_setzero_si64(), ring, p - n, taps, 0, 2 * n - j - 2);
            acc = _mm_add_pi16(acc, _mm_mulhi_pi16(last, EdgeWeight(taps, 2 * n - j - 1, 2 * n)));
            if (p < w - 1)
                Store8(d + p, acc);
            else
                StoreLastPixel(d + p, acc);
        }
    }
}

void VerticalPassMmx(const PassJob& job) {
    const Tap* taps = job.tables->mmxTaps;
    const int h = job.h;
    const int n = job.taps;
    const std::ptrdiff_t stride = job.stride;
    // Column groups of four pixels (12 samples, three vectors) from the
    // band's first column; the last group of the band may hold fewer pixels
    // and goes through a local copy.
    const PIXEL_YC* source = job.source + job.first;
    PIXEL_YC* destination = job.destination + job.first;
    const int columns = job.end - job.first;
    const int fullGroups = columns / 4;
    const int tailPixels = columns % 4;
    RowTerm terms[kMaxKernelLength];

    for (int r = 0; r < h; ++r) {
        const int count = ColumnTerms(terms, taps, r, h, n);
        PIXEL_YC* out = destination + r * stride;
        for (int g = 0; g < fullGroups; ++g) {
            __m64 a0 = _mm_setzero_si64(), a1 = _mm_setzero_si64(), a2 = _mm_setzero_si64();
            for (int t = 0; t < count; ++t) {
                const auto* in = reinterpret_cast<const std::int16_t*>(source + terms[t].row * stride + 4 * g);
                a0 = _mm_add_pi16(a0, Product(Load8(in), terms[t].coefficient));
                a1 = _mm_add_pi16(a1, Product(Load8(in + 4), terms[t].coefficient));
                a2 = _mm_add_pi16(a2, Product(Load8(in + 8), terms[t].coefficient));
            }
            auto* o = reinterpret_cast<std::int16_t*>(out + 4 * g);
            Store8(o, a0);
            Store8(o + 4, a1);
            Store8(o + 8, a2);
        }
        if (tailPixels != 0) {
            const std::size_t bytes = static_cast<std::size_t>(tailPixels) * sizeof(PIXEL_YC);
            __m64 a0 = _mm_setzero_si64(), a1 = _mm_setzero_si64(), a2 = _mm_setzero_si64();
            for (int t = 0; t < count; ++t) {
                std::int16_t in[12] = {};
                std::memcpy(in, source + terms[t].row * stride + 4 * fullGroups, bytes);
                a0 = _mm_add_pi16(a0, Product(Load8(in), terms[t].coefficient));
                a1 = _mm_add_pi16(a1, Product(Load8(in + 4), terms[t].coefficient));
                a2 = _mm_add_pi16(a2, Product(Load8(in + 8), terms[t].coefficient));
            }
            std::int16_t result[12];
            Store8(result, a0);
            Store8(result + 4, a1);
            Store8(result + 8, a2);
            std::memcpy(out + 4 * fullGroups, result, bytes);
        }
    }
}

}  // namespace lowpass
