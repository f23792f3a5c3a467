// The wide passes across the rows (HorizontalPassWide), and the horizontal
// sums the passes of both directions at once (wide_fused.h) make the same
// way. See wide_common.h for the vector type and for why everything here
// has internal linkage.
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
#pragma once

#include "simd/wide_common.h"

namespace lowpass {
namespace {

// Output samples per segment of a row across.
constexpr int kSegmentSamples = 3072;
// Kernels up to this N get blocks across with their taps unrolled.
constexpr int kUnrolledTaps = 4;

// Per-lane coefficients of one edge run: lane s is output sample s of the
// run (pixel s / 3); lanes past the run are all zero.
struct alignas(kVectorBytes) EdgeLanes {
    float weight[kMaxEdgeLanes];
    float coefficient[kMaxKernelLength][kMaxEdgeLanes];
};

// The edge runs' coefficients from the terms of each edge output
// (LineTerms, on the shortest line, 2N + 1, where every output but the
// middle one is an edge output): a near-edge output's first term and a
// far-edge output's last term fold the taps beyond the edge into the
// weight of the edge pixel; its other terms are single taps.
void BuildEdgeLanes(EdgeLanes& left, EdgeLanes& right, const Tap* taps, int n) {
    std::memset(&left, 0, sizeof left);
    std::memset(&right, 0, sizeof right);
    const int length = 2 * n + 1;
    LineTerm terms[kMaxKernelLength];
    for (int s = 0; s < 3 * n; ++s) {
        const int pixel = s / 3;
        // Left output x = pixel.
        int count = LineTerms(terms, pixel, length, n);
        _mm_store_ss(&left.weight[s], EdgeWeight(taps, terms[0].firstTap, terms[0].lastTap));
        for (int t = 1; t < count; ++t)
            _mm_store_ss(&left.coefficient[terms[t].firstTap][s], LoadTap(taps[terms[t].firstTap]));
        // Right output x = w - N + pixel.
        count = LineTerms(terms, length - n + pixel, length, n);
        for (int t = 0; t + 1 < count; ++t)
            _mm_store_ss(&right.coefficient[terms[t].firstTap][s], LoadTap(taps[terms[t].firstTap]));
        _mm_store_ss(&right.weight[s], EdgeWeight(taps, terms[count - 1].firstTap, terms[count - 1].lastTap));
    }
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

// The whole vectors of middle outputs left after the blocks of K (fewer
// than K): in blocks of K/2, then K/4, .. 1, so that a few sums still run
// side by side rather than each after the other. Returns the vectors done.
template <class V, int K, class Out>
inline int MiddleTail(Out* out, const float* f, int vectors, const Tap* taps, int n, typename V::Vec bias) {
    constexpr int L = V::kLanes;
    int done = 0;
    if constexpr (K > 1) {
        constexpr int H = K / 2;
        for (; vectors - done >= H; done += H) MiddleBlock<V, H>(out + done * L, f + done * L, taps, n, bias);
        done += MiddleTail<V, H>(out + done * L, f + done * L, vectors - done, taps, n, bias);
    }
    return done;
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
    alignas(kVectorBytes) float edgePixel[kMaxEdgeLanes + 2];
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
    alignas(kVectorBytes) float edgePixel[kMaxEdgeLanes + 2];
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
    alignas(kVectorBytes) float buffer[kFrontPad + kSegmentSamples + 2 * 3 * kMaxTaps + kMaxEdgeLanes + 8];
    std::memset(buffer, 0, sizeof(float) * kFrontPad);
    float* const segment = buffer + kFrontPad;
    alignas(kVectorBytes) std::int16_t results[kMaxEdgeLanes];

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
            a += L * MiddleTail<V, K>(out + a, segment + (a - start), (end - a) / L, taps, n, bias);
            if (a < end) {
                MiddleBlock<V, 1>(results, segment + (a - start), taps, n, bias);
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
                std::memcpy(out + (rowSamples - reach), results,
                            static_cast<std::size_t>(reach) * sizeof(std::int16_t));
            }
            start = end;
        }
    }
}

}  // namespace
}  // namespace lowpass
