// The body of the wide SSE-arithmetic passes, written once over a vector
// type and compiled once per instruction set (pass_sse2.cpp,
// pass_avx2.cpp), each file with its own set enabled.
//
// Everything here has internal linkage on purpose: a copy compiled for AVX2
// must never be the one the SSE2 passes call, as one shared inline
// definition could be after linking. For the same reason this file uses no
// inline function from another header except the compiler's intrinsics.
//
// What each output sample is computed as (lanes are independent, so only
// each sample's own sequence of operations matters, not how samples share
// a vector):
//
// Across a row, samples lie flat in the lanes: the three channels of a
// pixel in consecutive lanes, and tap k of output sample s reads sample
// s + 3(k - N). Each row is widened to float32 once, in segments.
//   middle outputs: acc = c[0] * p, then acc += c[k] * p for k = 1 .. 2N,
//                   then acc += 0.5 (starting from the first product is the
//                   same as adding it to zero);
//   left edge:      acc = W * p[0], then the in-range taps in ascending k,
//                   then + 0.5;
//   right edge:     the in-range taps from k = 0, then acc += W * p[w - 1],
//                   then + 0.5.
// The edge outputs of a row are computed together, each lane with its own
// coefficient per tap: zero where the tap is not one of that output's
// in-range taps. The product 0 * p (p a finite sample) is a zero, and
// adding a zero leaves a non-zero accumulator exactly as it was in every
// rounding mode (a denormal one too: where the control reads denormals as
// zero, every later operation reads it so as well); a zero accumulator may
// change its sign, which the final + 0.5 erases. So each lane's result is
// its own sequence's.
//
// Down the columns, the band's samples are widened row by row into a ring
// of float32 rows, in strips across the band within blocks of rows; each
// output row is then a short list of (coefficient, ring row) terms, the
// same for every lane:
//   top rows:    acc = W * s[0], then the in-range taps, then + 0.5;
//   middle rows: acc = 0.5, then every tap in ascending k;
//   bottom rows: acc = 0.5, the in-range taps, then acc += W * s[h - 1].
// Two neighbouring middle rows are computed together, each ring row loaded
// once for both, each row's sum in its own order.
//
// Edge weights W are summed in float32 from zero in ascending k, as the
// reference passes sum them. Results are converted under the thread's
// rounding control (CVTPS2DQ: out of range or NaN gives 0x80000000) and
// packed to int16 with signed saturation (PACKSSDW).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/pass_job.h"
#include "simd/pass_sse_wide.h"

namespace lowpass {
namespace {

using Tap = float[4];

// Samples across the widest edge run (3 * 15 = 45) rounded up to any
// vector's lanes.
constexpr int kMaxEdgeLanes = 48;
// Output samples per segment of a row across.
constexpr int kSegmentSamples = 3072;
// Down the columns: the ring holds 2N + 2 widened rows of a strip of the
// band (the window of two output rows). Its floats are kept to about the
// size of a first-level data cache (every output row reads all of them),
// so the strips are narrower the longer the kernel; kRingFloats (64 KiB on
// the stack) bounds the strip for short kernels.
constexpr int kRingCacheFloats = 10240;
constexpr int kRingFloats = 16384;
// How many rows ahead of the one being widened the vertical pass prefetches.
constexpr int kPrefetchRows = 4;
// Into the second-level cache: the first-level one holds the ring or the
// widened segment, and lines fetched into it this early would be evicted
// before their use.
constexpr auto kPrefetchHint = _MM_HINT_T1;
// Kernels up to this N get blocks across with their taps unrolled.
constexpr int kUnrolledTaps = 4;
// Output rows per block down the columns: the pages of a block's rows stay
// in the address translation caches while its strips are walked.
constexpr int kRowBlock = 256;
static_assert(3 * kMaxTaps <= kMaxEdgeLanes, "an edge run fits the edge lanes");

inline int MinInt(int a, int b) { return a < b ? a : b; }
inline int MaxInt(int a, int b) { return a > b ? a : b; }
inline int RoundUpTo(int v, int multiple) { return (v + multiple - 1) / multiple * multiple; }

// The sum of table entries first .. last, in float32 from zero in ascending
// k, in all four lanes.
inline __m128 EdgeWeight(const Tap* taps, int first, int last) {
    __m128 weight = _mm_setzero_ps();
    for (int k = first; k <= last; ++k) weight = _mm_add_ps(weight, _mm_load_ps(taps[k]));
    return weight;
}

// Samples lo .. hi - 1 of a line (sample index 0 at `line`) into out[0 ..
// hi - lo), as float32; positions before 0 or from `limit` on become 0 and
// are not read.
template <class V>
void Widen(float* out, const std::int16_t* line, int limit, int lo, int hi) {
    int i = lo;
    for (; i < hi && i < 0; ++i) out[i - lo] = 0.0f;
    const int end = MinInt(hi, limit);
    for (; i + 8 <= end; i += 8) V::Widen8(out + (i - lo), line + i);
    for (; i < end; ++i) out[i - lo] = static_cast<float>(line[i]);
    for (; i < hi; ++i) out[i - lo] = 0.0f;
}

// As Widen for 0 <= lo, and returns the largest magnitude of the samples
// it read (at least `peak`).
template <class V>
int WidenWithPeak(float* out, const std::int16_t* line, int limit, int lo, int hi, int peak) {
    constexpr int G = V::kWords;
    int i = lo;
    const int end = MinInt(hi, limit);
    if (i + G <= end) {
        typename V::Words high = V::LoadWords(line + i);
        typename V::Words low = high;
        for (; i + G <= end; i += G) {
            const typename V::Words s = V::LoadWords(line + i);
            high = V::MaxWords(high, s);
            low = V::MinWords(low, s);
#pragma GCC unroll 4
            for (int j = 0; j < G; j += 8) V::Widen8(out + (i - lo) + j, line + i + j);
        }
        alignas(32) std::int16_t highs[G], lows[G];
        V::StoreWords(highs, high);
        V::StoreWords(lows, low);
        for (int j = 0; j < G; ++j) peak = MaxInt(peak, MaxInt(highs[j], -lows[j]));
    }
    for (; i < end; ++i) {
        out[i - lo] = static_cast<float>(line[i]);
        peak = MaxInt(peak, line[i] < 0 ? -line[i] : line[i]);
    }
    for (; i < hi; ++i) out[i - lo] = 0.0f;
    return peak;
}

// Stores K accumulators (K * V::kLanes results) at `out`.
template <class V, int K>
inline void StoreResults(std::int16_t* out, const typename V::Vec (&acc)[K]) {
#pragma GCC unroll 16
    for (int i = 0; i + 1 < K; i += 2) V::Store2(out + i * V::kLanes, acc[i], acc[i + 1]);
    if (K % 2 != 0) V::Store1(out + (K - 1) * V::kLanes, acc[K - 1]);
}

// ---------------------------------------------------------------------------
// Across the rows.

// Per-lane coefficients of one edge run: lane s is output sample s of the
// run (pixel s / 3); lanes past the run are all zero.
struct EdgeLanes {
    alignas(32) float weight[kMaxEdgeLanes];
    alignas(32) float coefficient[kMaxKernelLength][kMaxEdgeLanes];
};

void BuildEdgeLanes(EdgeLanes& left, EdgeLanes& right, const Tap* taps, int n) {
    std::memset(&left, 0, sizeof left);
    std::memset(&right, 0, sizeof right);
    for (int s = 0; s < 3 * n; ++s) {
        const int pixel = s / 3;
        // Left output i = pixel: W = c[0] + .. + c[N - i] on p[0], then
        // taps N - i + 1 .. 2N.
        _mm_store_ss(&left.weight[s], EdgeWeight(taps, 0, n - pixel));
        for (int k = n - pixel + 1; k <= 2 * n; ++k) _mm_store_ss(&left.coefficient[k][s], _mm_load_ps(taps[k]));
        // Right output j = pixel (x = w - N + j): taps 0 .. 2N - j - 2,
        // then W = c[2N - j - 1] + .. + c[2N] on p[w - 1].
        for (int k = 0; k <= 2 * n - pixel - 2; ++k) _mm_store_ss(&right.coefficient[k][s], _mm_load_ps(taps[k]));
        _mm_store_ss(&right.weight[s], EdgeWeight(taps, 2 * n - pixel - 1, 2 * n));
    }
}

// Asks for the cache lines of `samples` samples from `at` on (a hint: it
// reads nothing and cannot fault).
inline void Prefetch(const std::int16_t* at, int samples) {
    const auto* p = reinterpret_cast<const char*>(at);
    for (int b = 0; b < 2 * samples; b += 64) _mm_prefetch(p + b, kPrefetchHint);
}

// The three samples of one pixel, repeated over `lanes` lanes (and up to
// two more). Written as plain stores: the compiler would otherwise gather.
inline void RepeatPixel(float* out, const float* pixel, int lanes) {
    const float y = pixel[0], cb = pixel[1], cr = pixel[2];
    for (int s = 0; s < lanes; s += 3) {
        out[s] = y;
        out[s + 1] = cb;
        out[s + 2] = cr;
    }
}

// The sums of K vectors of middle outputs: f points at the sample 3N before
// the first output sample; tap k reads f + 3k.
template <class V, int K, int kN = 0>
inline void MiddleSums(typename V::Vec (&acc)[K], const float* f, const Tap* taps, int n, typename V::Vec bias) {
    if (kN != 0) n = kN;  // a kernel size known when compiling: the tap loop unrolls
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    Vec c = V::Broadcast(taps[0]);
#pragma GCC unroll 16
    for (int i = 0; i < K; ++i) acc[i] = V::Mul(c, V::Load(f + i * L));
#pragma GCC unroll 8
    for (int k = 1; k <= 2 * n; ++k) {
        c = V::Broadcast(taps[k]);
        const float* p = f + 3 * k;
#pragma GCC unroll 16
        for (int i = 0; i < K; ++i) acc[i] = V::Add(acc[i], V::Mul(c, V::Load(p + i * L)));
    }
#pragma GCC unroll 16
    for (int i = 0; i < K; ++i) acc[i] = V::Add(acc[i], bias);
}

// Results as the horizontal pass stores them.
template <class V, int K>
inline void PutResults(std::int16_t* out, const typename V::Vec (&acc)[K]) {
    StoreResults<V, K>(out, acc);
}

// Results as the vertical pass reads them back: converted and saturated
// to int16 as stored, then widened to float32 again, into a ring row
// (V::Requantize does both without leaving the registers).
template <class V, int K>
inline void PutResults(float* out, const typename V::Vec (&acc)[K]) {
#pragma GCC unroll 16
    for (int i = 0; i < K; ++i) V::Store(out + i * V::kLanes, V::Requantize(acc[i]));
}

// A ring row's float32 sample where the row's sums are known to lie well
// within the int16 range: stored and widened again it is only rounded to
// an integer (V::RequantizeInRange), no saturation needed.
struct InRangeSample {
    float value;
};

template <class V, int K>
inline void PutResults(InRangeSample* out, const typename V::Vec (&acc)[K]) {
    float* to = &out->value;
#pragma GCC unroll 16
    for (int i = 0; i < K; ++i) V::Store(to + i * V::kLanes, V::RequantizeInRange(acc[i]));
}

// K vectors of middle outputs at `out` (int16 samples, or float32 ones
// requantized).
template <class V, int K, int kN = 0, class Out>
inline void MiddleOutputs(Out* out, const float* f, const Tap* taps, int n, typename V::Vec bias) {
    typename V::Vec acc[K];
    MiddleSums<V, K, kN>(acc, f, taps, n, bias);
    PutResults<V, K>(out, acc);
}

// K vectors of middle outputs, with the taps unrolled for short kernels.
template <class V, int K, class Out>
inline void MiddleBlock(Out* out, const float* f, const Tap* taps, int n, typename V::Vec bias) {
    static_assert(kUnrolledTaps == 4, "one case per unrolled kernel size");
    switch (n) {
        case 1: MiddleOutputs<V, K, 1>(out, f, taps, n, bias); break;
        case 2: MiddleOutputs<V, K, 2>(out, f, taps, n, bias); break;
        case 3: MiddleOutputs<V, K, 3>(out, f, taps, n, bias); break;
        case 4: MiddleOutputs<V, K, 4>(out, f, taps, n, bias); break;
        default: MiddleOutputs<V, K>(out, f, taps, n, bias); break;
    }
}

// The left edge run's reach = 3N results: sample0 points at the row's
// sample 0, with 3N finite values before it (zeros). Lane s, tap k reads
// sample s + 3(k - N).
template <class V>
void LeftEdgeRun(std::int16_t* results, const float* sample0, const EdgeLanes& left, int n, typename V::Vec bias) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    const int reach = 3 * n;
    const int edgeLanes = RoundUpTo(reach, L);
    const float* edge = sample0 - reach;
    alignas(32) float edgePixel[kMaxEdgeLanes + 2];
    RepeatPixel(edgePixel, sample0, edgeLanes);
    for (int v = 0; v < edgeLanes; v += L) {
        Vec acc = V::Mul(V::LoadAligned(left.weight + v), V::LoadAligned(edgePixel + v));
        for (int k = 1; k <= 2 * n; ++k)
            acc = V::Add(acc, V::Mul(V::LoadAligned(left.coefficient[k] + v), V::Load(edge + v + 3 * k)));
        V::Store1(results + v, V::Add(acc, bias));
    }
}

// The right edge run's 3N results (samples rowSamples - 3N on): edge points
// at sample rowSamples - 6N, with finite values past the row's end; the
// last pixel's samples are edge[6N - 3 ..].
template <class V>
void RightEdgeRun(std::int16_t* results, const float* edge, const EdgeLanes& right, int n, typename V::Vec bias) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    const int reach = 3 * n;
    const int edgeLanes = RoundUpTo(reach, L);
    alignas(32) float edgePixel[kMaxEdgeLanes + 2];
    RepeatPixel(edgePixel, edge + 2 * reach - 3, edgeLanes);
    for (int v = 0; v < edgeLanes; v += L) {
        Vec acc = V::Mul(V::LoadAligned(right.coefficient[0] + v), V::Load(edge + v));
        for (int k = 1; k <= 2 * n - 2; ++k)
            acc = V::Add(acc, V::Mul(V::LoadAligned(right.coefficient[k] + v), V::Load(edge + v + 3 * k)));
        acc = V::Add(acc, V::Mul(V::LoadAligned(right.weight + v), V::LoadAligned(edgePixel + v)));
        V::Store1(results + v, V::Add(acc, bias));
    }
}

template <class V>
void HorizontalPassWide(const PassJob& job) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    constexpr int K = V::kInFlight;
    if (job.first >= job.end) return;
    const int n = job.taps;
    const int rowSamples = 3 * job.w;
    const int reach = 3 * n;  // samples from an output to its farthest tap
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const Tap* taps = job.tables->sseTaps;
    const Vec bias = V::Broadcast(job.roundingBias);
    const auto* source = reinterpret_cast<const std::int16_t*>(job.source);
    auto* destination = reinterpret_cast<std::int16_t*>(job.destination);

    EdgeLanes left, right;
    BuildEdgeLanes(left, right, taps, n);

    // Widened samples of a segment with its reach on both sides and room
    // for the edge runs' lanes: segment[j] is sample start - reach + j.
    // Before it lie kFrontPad zeros: for the first segment of a row
    // (start - reach = 0) they are the samples left of the row the left
    // edge's unused lanes read; past the row Widen writes zeros.
    constexpr int kFrontPad = kMaxEdgeLanes;
    alignas(32) float buffer[kFrontPad + kSegmentSamples + 2 * 3 * kMaxTaps + kMaxEdgeLanes + 8];
    std::memset(buffer, 0, sizeof(float) * kFrontPad);
    float* const segment = buffer + kFrontPad;
    alignas(32) std::int16_t results[kMaxEdgeLanes];

    for (int r = job.first; r < job.end; ++r) {
        const std::int16_t* in = source + static_cast<std::ptrdiff_t>(r) * stride;
        std::int16_t* out = destination + static_cast<std::ptrdiff_t>(r) * stride;

        // Middle outputs, samples reach .. rowSamples - reach - 1, segment
        // by segment; the edge runs with the first and the last segment.
        const int middleEnd = rowSamples - reach;
        for (int start = reach; start < middleEnd;) {
            const int end = MinInt(start + kSegmentSamples, middleEnd);
            Widen<V>(segment, in, rowSamples, start - reach, end + reach + kMaxEdgeLanes + 8);
            // The next row's samples and outputs come from memory: each block
            // asks for those at its own place in the next row, so that they
            // arrive in a steady stream.
            const bool ahead = r + 1 < job.h;
            int a = start;
            for (; a + K * L <= end; a += K * L) {
                if (ahead) {
                    Prefetch(in + stride + MinInt(a + reach, rowSamples - K * L), K * L);
                    Prefetch(out + stride + a, K * L);
                }
                MiddleBlock<V, K>(out + a, segment + (a - start), taps, n, bias);
            }
            for (; a + L <= end; a += L) MiddleOutputs<V, 1>(out + a, segment + (a - start), taps, n, bias);
            if (a < end) {
                MiddleOutputs<V, 1>(results, segment + (a - start), taps, n, bias);
                std::memcpy(out + a, results, static_cast<std::size_t>(end - a) * sizeof(std::int16_t));
            }

            if (start == reach) {
                // Left edge, samples 0 .. reach - 1 (segment[j] is sample j).
                LeftEdgeRun<V>(results, segment, left, n, bias);
                std::memcpy(out, results, static_cast<std::size_t>(reach) * sizeof(std::int16_t));
            }
            if (end == middleEnd) {
                // Right edge, samples rowSamples - reach .. rowSamples - 1.
                RightEdgeRun<V>(results, segment + (rowSamples - 2 * reach - (start - reach)), right, n, bias);
                std::memcpy(out + (rowSamples - reach), results, static_cast<std::size_t>(reach) * sizeof(std::int16_t));
            }
            start = end;
        }
    }
}

// ---------------------------------------------------------------------------
// Down the columns.

// The terms of one output row, in summing order: a coefficient (four equal
// copies, 16-byte aligned) and the ring row it multiplies.
struct ColumnTerms {
    const float* coefficient[kMaxKernelLength];
    const float* row[kMaxKernelLength];
    int count;
    bool biasFirst;  // 0.5 starts the sum (middle and bottom rows) or ends it (top rows)
};

// The terms of output row r of h (taps, the top and bottom edge weights;
// ringRow(t) is the ring row holding row t).
template <class RingRow>
inline void SetColumnTerms(ColumnTerms& terms, int r, int h, int n, const Tap* taps, const Tap* top,
                           const Tap* bottom, const RingRow& ringRow) {
    terms.count = 0;
    if (r < n) {
        terms.biasFirst = false;
        terms.coefficient[terms.count] = top[r];
        terms.row[terms.count++] = ringRow(0);
        for (int k = n - r + 1; k <= 2 * n; ++k) {
            terms.coefficient[terms.count] = taps[k];
            terms.row[terms.count++] = ringRow(r + k - n);
        }
    } else if (r < h - n) {
        terms.biasFirst = true;
        for (int k = 0; k <= 2 * n; ++k) {
            terms.coefficient[terms.count] = taps[k];
            terms.row[terms.count++] = ringRow(r + k - n);
        }
    } else {
        terms.biasFirst = true;
        const int j = r - (h - n);
        for (int k = 0; k <= 2 * n - j - 2; ++k) {
            terms.coefficient[terms.count] = taps[k];
            terms.row[terms.count++] = ringRow(r + k - n);
        }
        terms.coefficient[terms.count] = bottom[j];
        terms.row[terms.count++] = ringRow(h - 1);
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
            __asm__("" : "+x"(x));
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

// The rest of an output row from sample `at` on, a vector at a time, the
// last part vector through a buffer (nothing past `count` is written).
template <class V>
inline void ColumnRowTail(std::int16_t* out, const ColumnTerms& terms, int at, int count, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    for (; at + L <= count; at += L) ColumnOutputs<V, 1>(out + at, terms, at, bias);
    if (at < count) {
        alignas(32) std::int16_t results[8];
        ColumnOutputs<V, 1>(results, terms, at, bias);
        std::memcpy(out + at, results, static_cast<std::size_t>(count - at) * sizeof(std::int16_t));
    }
}

// The same for two neighbouring middle rows (ColumnPairOutputs).
template <class V>
inline void ColumnPairTail(std::int16_t* out, std::int16_t* outNext, const float* const* rows, const Tap* taps, int n,
                           int at, int count, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    for (; at + L <= count; at += L) ColumnPairOutputs<V, 1>(out + at, outNext + at, rows, taps, n, at, bias);
    if (at < count) {
        alignas(32) std::int16_t results[8 * 2];
        ColumnPairOutputs<V, 1>(results, results + 8, rows, taps, n, at, bias);
        const auto bytes = static_cast<std::size_t>(count - at) * sizeof(std::int16_t);
        std::memcpy(out + at, results, bytes);
        std::memcpy(outNext + at, results + 8, bytes);
    }
}

template <class V>
void VerticalPassWide(const PassJob& job) {
    constexpr int L = V::kLanes;
    constexpr int K = V::kInFlight;
    if (job.first >= job.end) return;
    const int n = job.taps;
    const int h = job.h;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const Tap* taps = job.tables->sseTaps;
    const typename V::Vec bias = V::Broadcast(job.roundingBias);
    const auto* source = reinterpret_cast<const std::int16_t*>(job.source);
    auto* destination = reinterpret_cast<std::int16_t*>(job.destination);
    const int bandStart = 3 * job.first;
    const int bandEnd = 3 * job.end;

    // Edge weights: top row i folds c[0] .. c[N - i] onto row 0, bottom row
    // h - N + j folds c[2N - j - 1] .. c[2N] onto row h - 1.
    alignas(16) float top[kMaxTaps][4];
    alignas(16) float bottom[kMaxTaps][4];
    for (int i = 0; i < n; ++i) {
        _mm_store_ps(top[i], EdgeWeight(taps, 0, n - i));
        _mm_store_ps(bottom[i], EdgeWeight(taps, 2 * n - i - 1, 2 * n));
    }

    // The ring: rows of `strip` floats, whole blocks of K vectors; source
    // row t lives in ring row t % rows. It holds the window of two output
    // rows, 2N + 2 source rows.
    const int rows = 2 * n + 2;
    const int widest = MinInt(kRingCacheFloats / rows, kRingFloats / rows) / (K * L) * (K * L);
    // As few strips as the widest allows, of equal width (no narrow last
    // strip that pays a row's set-up for a few samples).
    const int strips = (bandEnd - bandStart + widest - 1) / widest;
    const int strip = MinInt(widest, RoundUpTo((bandEnd - bandStart + strips - 1) / strips, K * L));
    alignas(32) float ring[kRingFloats];
    ColumnTerms terms;

    // Blocks of output rows, each walked strip by strip: the pages of a
    // block's source and output rows stay in the address translation
    // caches from one strip to the next. A block widens the N rows above it
    // again.
    for (int blockStart = 0; blockStart < h; blockStart += kRowBlock) {
    const int blockEnd = MinInt(blockStart + kRowBlock, h);
    for (int stripStart = bandStart; stripStart < bandEnd; stripStart += strip) {
        const int count = MinInt(strip, bandEnd - stripStart);
        const int widenCount = RoundUpTo(count, L);
        int widened = MaxInt(blockStart - n, 0);
        for (int r = blockStart; r < blockEnd; ++r) {
            // Two middle rows at once where there are two.
            const bool pair = r >= n && r + 1 < h - n && r + 1 < blockEnd;
            const int lowest = MinInt(r + n + (pair ? 1 : 0), h - 1);
            for (; widened <= lowest; ++widened)
                Widen<V>(ring + static_cast<std::ptrdiff_t>(widened % rows) * strip,
                         source + static_cast<std::ptrdiff_t>(widened) * stride, bandEnd, stripStart,
                         stripStart + widenCount);
            const auto ringRow = [&](int row) -> const float* {
                return ring + static_cast<std::ptrdiff_t>(row % rows) * strip;
            };
            std::int16_t* out = destination + static_cast<std::ptrdiff_t>(r) * stride + stripStart;
            // Rows further down come from memory: each block asks for its
            // part of a source row and of an output row a few rows ahead.
            const int sourceAhead = MinInt(r + n + kPrefetchRows, h - 1);
            const int outputAhead = MinInt(r + kPrefetchRows, h - 1);
            const std::int16_t* sourceNext = source + static_cast<std::ptrdiff_t>(sourceAhead) * stride + stripStart;
            std::int16_t* outputNext = destination + static_cast<std::ptrdiff_t>(outputAhead) * stride + stripStart;

            if (pair) {
                const float* window[kMaxKernelLength + 1];
                for (int q = 0; q <= 2 * n + 1; ++q) window[q] = ringRow(r - n + q);
                std::int16_t* below = out + stride;
                const std::int16_t* sourceAfter =
                    source + static_cast<std::ptrdiff_t>(MinInt(sourceAhead + 1, h - 1)) * stride + stripStart;
                const std::int16_t* outputAfter =
                    destination + static_cast<std::ptrdiff_t>(MinInt(outputAhead + 1, h - 1)) * stride + stripStart;
                constexpr int P = K / 2 > 0 ? K / 2 : 1;
                int at = 0;
                for (; at + P * L <= count; at += P * L) {
                    Prefetch(sourceNext + at, P * L);
                    Prefetch(sourceAfter + at, P * L);
                    Prefetch(outputNext + at, P * L);
                    Prefetch(outputAfter + at, P * L);
                    ColumnPairOutputs<V, P>(out + at, below + at, window, taps, n, at, bias);
                }
                ColumnPairTail<V>(out, below, window, taps, n, at, count, bias);
                ++r;
                continue;
            }

            SetColumnTerms(terms, r, h, n, taps, top, bottom, ringRow);

            int at = 0;
            for (; at + K * L <= count; at += K * L) {
                Prefetch(sourceNext + at, K * L);
                Prefetch(outputNext + at, K * L);
                ColumnOutputs<V, K>(out + at, terms, at, bias);
            }
            ColumnRowTail<V>(out, terms, at, count, bias);
        }
    }
    }
}

// ---------------------------------------------------------------------------
// Both passes at once.
//
// A block's output rows are made strip by strip across the row: for each
// strip, the horizontal rows the block needs (N above it to N below it)
// are made one by one into a ring of float32 rows, and each output row is
// made from the ring as soon as the rows it needs are there, as the
// vertical pass makes it. A horizontal row is either read from the
// boundary rows (near a block boundary, widened as the vertical pass
// widens its source) or computed from the picture as the horizontal pass
// computes it, each result converted and saturated to int16 and widened
// again exactly as the vertical pass would read it; the horizontal row r
// is made before output row r - N, so the picture's row r is read before
// it is overwritten. Only the samples left of the strip that its
// horizontal outputs reach (3N) were overwritten by the strip before: they
// are kept, widened, from the strip before.

constexpr int kMaxFusedTaps = kWideFusedMaxTaps;
// The ring of 2N + 2 strips of horizontal rows: about the size of a
// first-level data cache.
constexpr int kFusedRingFloats = 6144;

template <class V>
void FusedPassesWide(const FusedJob& job) {
    using Vec = typename V::Vec;
    constexpr int L = V::kLanes;
    constexpr int K = V::kInFlight;
    if (job.first >= job.end) return;
    const int n = job.taps;
    const int h = job.h;
    const int rowSamples = 3 * job.w;
    const int reach = 3 * n;
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(job.stride) * 3;
    const Tap* across = job.across->sseTaps;
    const Tap* down = job.down->sseTaps;
    const Vec bias = V::Broadcast(job.roundingBias);
    auto* const frame = reinterpret_cast<std::int16_t*>(job.frame);
    const auto* const boundaryRows = reinterpret_cast<const std::int16_t*>(job.boundaryRows);

    EdgeLanes left, right;
    BuildEdgeLanes(left, right, across, n);
    alignas(16) float top[kMaxTaps][4];
    alignas(16) float bottom[kMaxTaps][4];
    for (int i = 0; i < n; ++i) {
        _mm_store_ps(top[i], EdgeWeight(down, 0, n - i));
        _mm_store_ps(bottom[i], EdgeWeight(down, 2 * n - i - 1, 2 * n));
    }
    // A horizontal sum over samples of magnitude at most `peak` is at most
    // peak * sum |c[k]| (1 + 2^-23)^(2N + 2) + 0.51 in magnitude, whatever
    // the rounding: where peak * sum |c[k]| <= kInRange, no middle output
    // of the row saturates (a NaN or infinite tap fails the test).
    double sumAbs = 0.0;
    for (int k = 0; k <= 2 * n; ++k) sumAbs += across[k][0] < 0.0f ? -double(across[k][0]) : double(across[k][0]);
    constexpr double kInRange = 32000.0;

    // Strips: as few as the ring allows, of nearly equal width, each
    // starting at a multiple of the lanes; each at least 3N wide (a row
    // has at least 6N + 3 samples), so that each edge run lies in one.
    const int rows = 2 * n + 2;
    const int widest = kFusedRingFloats / rows / L * L - L;  // a strip may be up to L wider
    const int strips = (rowSamples + widest - 1) / widest;
    const auto stripStart = [&](int i) {
        return i == strips ? rowSamples
                           : static_cast<int>(static_cast<long long>(rowSamples) * i / strips) / L * L;
    };
    const int ringStride = widest + L;  // the widest strip rounded up to the lanes
    alignas(32) float ring[kFusedRingFloats];
    // One row's widened samples for one strip: segment[j] is sample
    // stripStart - 3N + j, up to 3N past the strip rounded up to the lanes
    // (and the edge run's lanes beyond in the last strip), with room for
    // kCarry samples before the strip.
    constexpr std::size_t kCarry = 3 * kMaxFusedTaps;
    alignas(32) float buffer[kCarry + kFusedRingFloats / 4 + 2 * kCarry + kMaxEdgeLanes];
    float* const segment = buffer + kCarry;
    // Per block row computed from the picture: its kCarry samples left of
    // the next strip, widened before the strip overwrote them, and the
    // largest magnitude among them (or more).
    float carry[kMaxFusedBlockRows][kCarry];
    int carryPeak[kMaxFusedBlockRows];
    alignas(32) std::int16_t edgeResults[kMaxEdgeLanes];
    ColumnTerms terms;

    for (int block = job.first; block < job.end; ++block) {
        const int blockStart = block * job.blockRows;
        const int blockEnd = MinInt(blockStart + job.blockRows, h);
        const int lo = MaxInt(blockStart - n, 0);
        for (int strip = 0; strip < strips; ++strip) {
            const int s0 = stripStart(strip);
            const int s1 = stripStart(strip + 1);
            const int count = s1 - s0;
            const int widenCount = RoundUpTo(count, L);
            const auto ringRow = [&](int row) -> float* {
                return ring + static_cast<std::ptrdiff_t>(row % rows) * ringStride;
            };

            // Horizontal row t of this strip into its ring row.
            const auto makeRow = [&](int t) {
                float* into = ringRow(t);
                if (NearBlockBoundary(t, h, n, job.blockRows)) {
                    Widen<V>(into, boundaryRows + static_cast<std::ptrdiff_t>(t) * stride, rowSamples, s0,
                             s0 + widenCount);
                    return;
                }
                const std::int16_t* in = frame + static_cast<std::ptrdiff_t>(t) * stride;
                // The next row's samples of the strip into the first-level
                // cache while this one is computed.
                const auto* next = reinterpret_cast<const char*>(in + (t + 1 < h ? stride : 0) + s0);
                const int nextBytes = 2 * MinInt(widenCount + reach, rowSamples - s0);
                // (The samples kept are the kCarry before the next strip,
                // copied whole: a copy of fixed size is a few moves.)
                float* kept = carry[t - blockStart];
                int& keptPeak = carryPeak[t - blockStart];
                if (s0 == 0) {
                    std::memset(segment + reach - kCarry, 0, sizeof(float) * kCarry);
                    keptPeak = 0;
                } else {
                    std::memcpy(segment + reach - kCarry, kept, sizeof(float) * kCarry);
                }
                keptPeak = WidenWithPeak<V>(segment + reach, in, rowSamples, s0,
                                            s0 + widenCount + reach + (s1 == rowSamples ? kMaxEdgeLanes : 0), keptPeak);
                if (s1 < rowSamples) std::memcpy(kept, segment + reach + count - kCarry, sizeof(float) * kCarry);
                // Every output of the strip as a middle one (those within 3N
                // of the row's ends read zeros and are replaced below).
                // (Asked for a few lines at a time, between the blocks of
                // outputs: asked for all at once, the requests fill the
                // processor's queue of misses and stall it.)
                const auto middle = [&](auto* to) {
                    int q = 0;
                    int asked = 0;
                    for (; q + K * L <= widenCount; q += K * L) {
                        for (; asked < 2 * (q + K * L) && asked < nextBytes; asked += 64)
                            _mm_prefetch(next + asked, _MM_HINT_T0);
                        MiddleBlock<V, K>(to + q, segment + q, across, n, bias);
                    }
                    for (; asked < nextBytes; asked += 64) _mm_prefetch(next + asked, _MM_HINT_T0);
                    for (; q < widenCount; q += L) MiddleOutputs<V, 1>(to + q, segment + q, across, n, bias);
                };
                if (static_cast<double>(keptPeak) * sumAbs <= kInRange)
                    middle(reinterpret_cast<InRangeSample*>(into));
                else
                    middle(into);
                if (s0 == 0) {
                    LeftEdgeRun<V>(edgeResults, segment + reach, left, n, bias);
                    for (int i = 0; i < reach; ++i) into[i] = static_cast<float>(edgeResults[i]);
                }
                if (s1 == rowSamples) {
                    RightEdgeRun<V>(edgeResults, segment + (rowSamples - reach - s0), right, n, bias);
                    for (int i = 0; i < reach; ++i) into[count - reach + i] = static_cast<float>(edgeResults[i]);
                }
            };

            int made = lo;
            for (int r = blockStart; r < blockEnd; ++r) {
                const bool pair = r >= n && r + 1 < h - n && r + 1 < blockEnd;
                const int lowest = MinInt(r + n + (pair ? 1 : 0), h - 1);
                for (; made <= lowest; ++made) makeRow(made);
                std::int16_t* out = frame + static_cast<std::ptrdiff_t>(r) * stride + s0;

                if (pair) {
                    const float* window[kMaxKernelLength + 1];
                    for (int q = 0; q <= 2 * n + 1; ++q) window[q] = ringRow(r - n + q);
                    std::int16_t* below = out + stride;
                    // Two rows of P vectors: twice as many sums as registers
                    // allow for, less the coefficients and the loaded row.
                    constexpr int P = K >= 8 ? 6 : K / 2;
                    int at = 0;
                    for (; at + P * L <= count; at += P * L)
                        ColumnPairOutputs<V, P>(out + at, below + at, window, down, n, at, bias);
                    ColumnPairTail<V>(out, below, window, down, n, at, count, bias);
                    ++r;
                    continue;
                }

                SetColumnTerms(terms, r, h, n, down, top, bottom, ringRow);
                int at = 0;
                for (; at + K * L <= count; at += K * L) ColumnOutputs<V, K>(out + at, terms, at, bias);
                ColumnRowTail<V>(out, terms, at, count, bias);
            }
        }
    }
}

}  // namespace
}  // namespace lowpass
