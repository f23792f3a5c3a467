// The pieces the wide SSE-arithmetic passes share: across (wide_across.h),
// down (wide_down.h) and both at once (wide_fused.h) are written once over
// a vector type and compiled once per instruction set (pass_sse2.cpp,
// pass_avx2.cpp, pass_avx512.cpp), each file with its own set enabled.
//
// Everything here has internal linkage on purpose: a copy compiled for AVX2
// must never be the one the SSE2 passes call, as one shared inline
// definition could be after linking. For the same reason these files use no
// inline function from another header except the compiler's intrinsics and
// the edge terms (line_terms.h, internal as well).
//
// A vector type V gives:
//   Vec, kLanes;
//   kInFlight (vectors summed side by side across), kDownInFlight and
//   kDownInFlightLong (down, for kernels up to kShortKernelTaps and longer);
//   Load, Store, LoadAligned (32-byte aligned where kLanes >= 8, else 16),
//   Broadcast (lane 0 of a 16-byte aligned table entry in every lane), Mul,
//   Add;
//   kWidenStep, WidenStep (kWidenStep int16 samples to as many float32
//   values, exactly);
//   Store2, Store1 (results converted under the thread's rounding control,
//   packed to int16 with signed saturation);
//   Requantize (a result as it comes back when stored as int16 and widened
//   again), RequantizeInRange (the same for a result known to lie within
//   the int16 range);
//   Words, kWords, LoadWords, MaxWords, MinWords, StoreWords (int16 samples,
//   for a row's largest magnitude).
//
// What each output sample is computed as (lanes are independent, so only
// each sample's own sequence of operations matters, not how samples share
// a vector) is said in each pass's file. Edge weights are summed in float32
// from zero in ascending k, as the reference passes sum them. Results are
// converted under the thread's rounding control (CVTPS2DQ: out of range or
// NaN gives 0x80000000) and packed to int16 with signed saturation
// (PACKSSDW).
#pragma once

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/pass_job.h"
#include "simd/line_terms.h"

namespace lowpass {
namespace {

using Tap = float[4];

// Samples across the widest edge run (3 * 15 = 45) rounded up to any
// vector's lanes.
constexpr int kMaxEdgeLanes = 48;
static_assert(3 * kMaxTaps <= kMaxEdgeLanes, "an edge run fits the edge lanes");
// The widest vector's lanes and bytes: buffers of results keep room for a
// whole vector, and buffers read with aligned loads are aligned to it.
constexpr int kMaxLanes = 16;
constexpr int kVectorBytes = 64;
static_assert(kMaxEdgeLanes % kMaxLanes == 0, "edge runs are whole vectors");

inline int MinInt(int a, int b) { return a < b ? a : b; }
inline int MaxInt(int a, int b) { return a > b ? a : b; }
inline int RoundUpTo(int v, int multiple) { return (v + multiple - 1) / multiple * multiple; }

// The sum of table entries first .. last, in float32 from zero in ascending
// k, in all four lanes.
inline __m128 LoadTap(const Tap& tap) { return _mm_load_ps(tap); }
inline __m128 AddTaps(__m128 a, __m128 b) { return _mm_add_ps(a, b); }
inline __m128 EdgeWeight(const Tap* taps, int first, int last) {
    return lowpass::EdgeWeight(taps, first, last, _mm_setzero_ps(), LoadTap, AddTaps);
}

// Samples lo .. hi - 1 of a line (sample index 0 at `line`) into out[0 ..
// hi - lo), as float32; positions before 0 or from `limit` on become 0 and
// are not read.
template <class V>
void Widen(float* out, const std::int16_t* line, int limit, int lo, int hi) {
    int i = lo;
    for (; i < hi && i < 0; ++i) out[i - lo] = 0.0f;
    const int end = MinInt(hi, limit);
    for (; i + V::kWidenStep <= end; i += V::kWidenStep) V::WidenStep(out + (i - lo), line + i);
    for (; i < end; ++i) out[i - lo] = static_cast<float>(line[i]);
    for (; i < hi; ++i) out[i - lo] = 0.0f;
}

// As Widen for 0 <= lo, and returns the largest magnitude of the samples
// it read (at least `peak`).
template <class V>
int WidenWithPeak(float* out, const std::int16_t* line, int limit, int lo, int hi, int peak) {
    constexpr int G = V::kWords;
    static_assert(G % V::kWidenStep == 0, "a block of words widens in whole steps");
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
            for (int j = 0; j < G; j += V::kWidenStep) V::WidenStep(out + (i - lo) + j, line + i + j);
        }
        alignas(kVectorBytes) std::int16_t highs[G], lows[G];
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

// Into the second-level cache: the first-level one holds the ring or the
// widened segment, and lines fetched into it this early would be evicted
// before their use.
constexpr auto kPrefetchHint = _MM_HINT_T1;

// Asks for the cache lines of `samples` samples from `at` on (a hint: it
// reads nothing and cannot fault).
inline void Prefetch(const std::int16_t* at, int samples) {
    const auto* p = reinterpret_cast<const char*>(at);
    for (int b = 0; b < 2 * samples; b += 64) _mm_prefetch(p + b, kPrefetchHint);
}

}  // namespace
}  // namespace lowpass
