// The wide passes down the columns (VerticalPassWide), and the loop over a
// strip's output rows that the passes of both directions at once
// (wide_fused.h) share with them. See wide_common.h for the vector type
// and for why everything here has internal linkage.
//
// Down the columns, the rows a strip of output rows needs are made into a
// ring of float32 rows (the source's rows widened here, the horizontal
// pass's rows in wide_fused.h); each output row is then a short list of
// (coefficient, ring row) terms, the same for every lane:
//   top rows:    acc = W * s[0], then the in-range taps, then + 0.5;
//   middle rows: acc = 0.5, then every tap in ascending k;
//   bottom rows: acc = 0.5, the in-range taps, then acc += W * s[h - 1].
// Two neighbouring middle rows are computed together, each ring row loaded
// once for both, each row's sum in its own order.
#pragma once

#include "simd/wide_common.h"

namespace lowpass {
namespace {

// Down the columns: the ring holds 2N + 2 widened rows of a strip of the
// band (the window of two output rows). Its floats are kept to about the
// size of a first-level data cache (every output row reads all of them),
// so the strips are narrower the longer the kernel; kRingFloats (64 KiB on
// the stack) bounds the strip for short kernels.
constexpr int kRingCacheFloats = 10240;
constexpr int kRingFloats = 16384;
// Kernels up to this N count as short ones (the vector types' kDownInFlight).
constexpr int kShortKernelTaps = 4;
// How many rows ahead of the one being widened the vertical pass prefetches.
constexpr int kPrefetchRows = 4;
// Output rows per block down the columns: the pages of a block's rows stay
// in the address translation caches while its strips are walked.
constexpr int kRowBlock = 256;

// The column kernel: the taps, and the folded weights of the edge rows,
// top[i] for output row i (the taps beyond the top edge on row 0) and
// bottom[j] for output row h - N + j (those beyond the bottom edge on row
// h - 1), each from the folded term of that output (LineTerms).
struct ColumnKernel {
    const Tap* taps;
    int n;
    int h;
    alignas(16) Tap top[kMaxTaps];
    alignas(16) Tap bottom[kMaxTaps];

    ColumnKernel(const Tap* columnTaps, int halfLength, int height) : taps(columnTaps), n(halfLength), h(height) {
        const int length = 2 * n + 1;  // the shortest line: every output but the middle one is an edge output
        LineTerm terms[kMaxKernelLength];
        for (int i = 0; i < n; ++i) {
            LineTerms(terms, i, length, n);
            _mm_store_ps(top[i], EdgeWeight(columnTaps, terms[0].firstTap, terms[0].lastTap));
            const int count = LineTerms(terms, length - n + i, length, n);
            _mm_store_ps(bottom[i], EdgeWeight(columnTaps, terms[count - 1].firstTap, terms[count - 1].lastTap));
        }
    }
};

// The terms of one output row, in summing order: a coefficient (four equal
// copies, 16-byte aligned) and the ring row it multiplies.
struct ColumnTerms {
    const float* coefficient[kMaxKernelLength];
    const float* row[kMaxKernelLength];
    int count;
    bool biasFirst;  // 0.5 starts the sum (middle and bottom rows) or ends it (top rows)
};

// The ring the rows of a strip are made into: row t lives in ring row
// t % count, each `stride` floats.
struct RowRing {
    float* base;
    int count;
    int stride;

    float* Row(int t) const { return base + static_cast<std::ptrdiff_t>(t % count) * stride; }
    // The ring rows of rows first .. first + rows - 1 into window[], one
    // division for all of them.
    void Window(int first, int rows, const float** window) const {
        int slot = first % count;
        for (int q = 0; q < rows; ++q) {
            window[q] = base + static_cast<std::ptrdiff_t>(slot) * stride;
            if (++slot == count) slot = 0;
        }
    }
};

// The terms of output row r (LineTerms), each row from the ring of `rows`.
template <class Rows>
inline void SetColumnTerms(ColumnTerms& terms, int r, const ColumnKernel& kernel, const Rows& rows) {
    const int n = kernel.n, h = kernel.h;
    LineTerm line[kMaxKernelLength];
    terms.count = LineTerms(line, r, h, n);
    terms.biasFirst = r >= n;
    for (int t = 0; t < terms.count; ++t) {
        const LineTerm& term = line[t];
        terms.row[t] = rows.ring().Row(term.position);
        if (term.firstTap == term.lastTap) terms.coefficient[t] = kernel.taps[term.firstTap];
        else terms.coefficient[t] = r < n ? kernel.top[r] : kernel.bottom[r - (h - n)];
    }
}

// K vectors of one output row at sample `at` of the strip.
template <class V, int K>
inline void ColumnOutputs(std::int16_t* out, const ColumnTerms& terms, int at, typename V::Vec bias) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    Vec acc[K];
    int t = 0;
    if (terms.biasFirst) {
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) acc[i] = bias;
    } else {
        const Vec c = V::Broadcast(terms.coefficient[0]);
        const float* p = terms.row[0] + at;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) acc[i] = V::Mul(c, V::LoadAligned(p + i * L));
        t = 1;
    }
    for (; t < terms.count; ++t) {
        const Vec c = V::Broadcast(terms.coefficient[t]);
        const float* p = terms.row[t] + at;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) acc[i] = V::Add(acc[i], V::Mul(c, V::LoadAligned(p + i * L)));
    }
    if (!terms.biasFirst) {
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) acc[i] = V::Add(acc[i], bias);
    }
    StoreResults<V, K>(out, acc);
}

// K vectors of two neighbouring middle rows r and r + 1 at once: ring rows
// r - N .. r + N + 1 (rows[0 .. 2N + 1]) are each loaded once and used by
// both, row r with tap q, row r + 1 with tap q - 1; each row's sum still
// starts at 0.5 and runs in ascending k.
template <class V, int K>
inline void ColumnPairOutputs(std::int16_t* out, std::int16_t* outNext, const float* const* rows, const Tap* taps,
                              int n, int at, typename V::Vec bias) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    Vec acc[K], next[K];
    {
        const Vec c = V::Broadcast(taps[0]);
        const float* p = rows[0] + at;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) {
            acc[i] = V::Add(bias, V::Mul(c, V::LoadAligned(p + i * L)));
            next[i] = bias;
        }
    }
    for (int q = 1; q <= 2 * n; ++q) {
        const Vec c = V::Broadcast(taps[q]);
        const Vec d = V::Broadcast(taps[q - 1]);
        const float* p = rows[q] + at;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) {
            Vec x = V::LoadAligned(p + i * L);
            // Loaded once into a register for both rows (the compiler would
            // rather fold the load into each multiplication).
            __asm__("" : "+v"(x));
            acc[i] = V::Add(acc[i], V::Mul(c, x));
            next[i] = V::Add(next[i], V::Mul(d, x));
        }
    }
    {
        const Vec d = V::Broadcast(taps[2 * n]);
        const float* p = rows[2 * n + 1] + at;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) next[i] = V::Add(next[i], V::Mul(d, V::LoadAligned(p + i * L)));
    }
    StoreResults<V, K>(out, acc);
    StoreResults<V, K>(outNext, next);
}

// The rest of an output row from sample `at` on (fewer than K vectors): in
// blocks of K/2, then K/4, .. 1 vectors, so that a few sums still run side
// by side, then the last part vector through a buffer (nothing past
// `count` is written).
template <class V, int K>
inline void ColumnRowTail(std::int16_t* out, const ColumnTerms& terms, int at, int count, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    if constexpr (K > 1) {
        constexpr int H = K / 2;
        for (; at + H * L <= count; at += H * L) ColumnOutputs<V, H>(out + at, terms, at, bias);
        ColumnRowTail<V, H>(out, terms, at, count, bias);
    } else {
        for (; at + L <= count; at += L) ColumnOutputs<V, 1>(out + at, terms, at, bias);
        if (at < count) {
            alignas(kVectorBytes) std::int16_t results[kMaxLanes];
            ColumnOutputs<V, 1>(results, terms, at, bias);
            std::memcpy(out + at, results, static_cast<std::size_t>(count - at) * sizeof(std::int16_t));
        }
    }
}

// The same for two neighbouring middle rows (ColumnPairOutputs), after the
// blocks of P vectors (P need not be a power of two).
template <class V, int P>
inline void ColumnPairTail(std::int16_t* out, std::int16_t* outNext, const float* const* rows, const Tap* taps, int n,
                           int at, int count, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    if constexpr (P > 1) {
        constexpr int H = P / 2;
        for (; at + H * L <= count; at += H * L)
            ColumnPairOutputs<V, H>(out + at, outNext + at, rows, taps, n, at, bias);
        ColumnPairTail<V, H>(out, outNext, rows, taps, n, at, count, bias);
    } else {
        for (; at + L <= count; at += L) ColumnPairOutputs<V, 1>(out + at, outNext + at, rows, taps, n, at, bias);
        if (at < count) {
            alignas(kVectorBytes) std::int16_t results[2 * kMaxLanes];
            ColumnPairOutputs<V, 1>(results, results + kMaxLanes, rows, taps, n, at, bias);
            const auto bytes = static_cast<std::size_t>(count - at) * sizeof(std::int16_t);
            std::memcpy(out + at, results, bytes);
            std::memcpy(outNext + at, results + kMaxLanes, bytes);
        }
    }
}

// Output rows first .. end - 1 of one strip of `count` samples (`out` is
// the strip's place in row 0 of the output, rows `stride` samples apart),
// from the rows `rows` makes into its ring:
//   rows.Make(t)          makes row t (each t once, in ascending order,
//                         from first - N on, before the outputs that need it);
//   rows.ring()           the RowRing that holds them;
//   rows.BeginRow(r, two) a new output row r (and r + 1 with it when two);
//   rows.Ahead(at, count) the outputs at `at` of this row come next.
// K vectors of a single row, or P of each row of a pair, are summed at a
// time.
template <class V, int K, int P, class Rows>
void StripRows(Rows& rows, const ColumnKernel& kernel, std::int16_t* out, std::ptrdiff_t stride, int first, int end,
               int count, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    const int n = kernel.n, h = kernel.h;
    ColumnTerms terms;
    int made = MaxInt(first - n, 0);
    for (int r = first; r < end; ++r) {
        // Two middle rows at once where there are two.
        const bool pair = r >= n && r + 1 < h - n && r + 1 < end;
        const int lowest = MinInt(r + n + (pair ? 1 : 0), h - 1);
        for (; made <= lowest; ++made) rows.Make(made);
        std::int16_t* row = out + static_cast<std::ptrdiff_t>(r) * stride;
        rows.BeginRow(r, pair);

        if (pair) {
            const float* window[kMaxKernelLength + 1];
            rows.ring().Window(r - n, 2 * n + 2, window);
            std::int16_t* below = row + stride;
            int at = 0;
            for (; at + P * L <= count; at += P * L) {
                rows.Ahead(at, P * L);
                ColumnPairOutputs<V, P>(row + at, below + at, window, kernel.taps, n, at, bias);
            }
            ColumnPairTail<V, P>(row, below, window, kernel.taps, n, at, count, bias);
            ++r;
            continue;
        }

        SetColumnTerms(terms, r, kernel, rows);
        int at = 0;
        for (; at + K * L <= count; at += K * L) {
            rows.Ahead(at, K * L);
            ColumnOutputs<V, K>(row + at, terms, at, bias);
        }
        ColumnRowTail<V, K>(row, terms, at, count, bias);
    }
}

// The vertical pass's rows of one strip: the source's rows widened into
// the ring; the source rows and output rows a few rows further down are
// asked for from memory while a row is computed, each block of outputs
// asking for its own part.
template <class V>
class SourceStrip {
public:
    SourceStrip(const std::int16_t* source, std::int16_t* destination, std::ptrdiff_t stride, int h, int n, int bandEnd,
                const RowRing& ring)
        : source_(source), destination_(destination), stride_(stride), h_(h), n_(n), bandEnd_(bandEnd), ring_(ring) {}

    // The strip of `count` samples from sample `start` of the band's rows.
    void Start(int start, int count) {
        start_ = start;
        widenCount_ = RoundUpTo(count, V::kLanes);
    }

    void Make(int t) { Widen<V>(ring_.Row(t), Row(source_, t), bandEnd_, start_, start_ + widenCount_); }

    const RowRing& ring() const { return ring_; }

    void BeginRow(int r, bool pair) {
        const int sourceAhead = MinInt(r + n_ + kPrefetchRows, h_ - 1);
        const int outputAhead = MinInt(r + kPrefetchRows, h_ - 1);
        ahead_[0] = Row(source_, sourceAhead) + start_;
        ahead_[1] = Row(destination_, outputAhead) + start_;
        aheadRows_ = 2;
        if (pair) {
            ahead_[2] = Row(source_, MinInt(sourceAhead + 1, h_ - 1)) + start_;
            ahead_[3] = Row(destination_, MinInt(outputAhead + 1, h_ - 1)) + start_;
            aheadRows_ = 4;
        }
    }

    void Ahead(int at, int count) const {
        for (int i = 0; i < aheadRows_; ++i) Prefetch(ahead_[i] + at, count);
    }

private:
    const std::int16_t* Row(const std::int16_t* frame, int t) const {
        return frame + static_cast<std::ptrdiff_t>(t) * stride_;
    }

    const std::int16_t* source_;
    const std::int16_t* destination_;
    std::ptrdiff_t stride_;
    int h_, n_, bandEnd_;
    RowRing ring_;
    int start_ = 0, widenCount_ = 0;
    const std::int16_t* ahead_[4] = {};
    int aheadRows_ = 0;
};

// K vectors of a single row summed at a time, P of each row of a pair.
template <class V, int K>
void VerticalPassWideBy(const PassJob& job) {
    constexpr int L = V::kLanes;
    constexpr int P = K / 2 > 0 ? K / 2 : 1;
    const int n = job.taps;
    const int h = job.h;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const typename V::Vec bias = V::Broadcast(job.roundingBias);
    auto* destination = reinterpret_cast<std::int16_t*>(job.destination);
    const int bandStart = 3 * job.first;
    const int bandEnd = 3 * job.end;
    const ColumnKernel kernel(job.tables->sseTaps, n, h);

    // The ring: rows of `strip` floats, whole blocks of K vectors; source
    // row t lives in ring row t % rows. It holds the window of two output
    // rows, 2N + 2 source rows.
    const int rows = 2 * n + 2;
    const int widest = MinInt(kRingCacheFloats / rows, kRingFloats / rows) / (K * L) * (K * L);
    // As few strips as the widest allows, of equal width (no narrow last
    // strip that pays a row's set-up for a few samples).
    const int strips = (bandEnd - bandStart + widest - 1) / widest;
    const int strip = MinInt(widest, RoundUpTo((bandEnd - bandStart + strips - 1) / strips, K * L));
    alignas(kVectorBytes) float ring[kRingFloats];
    SourceStrip<V> source(reinterpret_cast<const std::int16_t*>(job.source), destination, stride, h, n, bandEnd,
                          RowRing{ring, rows, strip});

    // Blocks of output rows, each walked strip by strip: the pages of a
    // block's source and output rows stay in the address translation
    // caches from one strip to the next. A block widens the N rows above it
    // again.
    for (int blockStart = 0; blockStart < h; blockStart += kRowBlock) {
        const int blockEnd = MinInt(blockStart + kRowBlock, h);
        for (int stripStart = bandStart; stripStart < bandEnd; stripStart += strip) {
            const int count = MinInt(strip, bandEnd - stripStart);
            source.Start(stripStart, count);
            StripRows<V, K, P>(source, kernel, destination + stripStart, stride, blockStart, blockEnd, count, bias);
        }
    }
}

template <class V>
void VerticalPassWide(const PassJob& job) {
    if (job.first >= job.end) return;
    // As many vectors at a time as the vector type asks for kernels of this
    // length: a long kernel has more taps to amortise a row's set-up over;
    // with a short one, narrower blocks leave less to the tail.
    if (job.taps > kShortKernelTaps) VerticalPassWideBy<V, V::kDownInFlightLong>(job);
    else VerticalPassWideBy<V, V::kDownInFlight>(job);
}

}  // namespace
}  // namespace lowpass
