// The SSE engine's arithmetic on AVX-512 registers: sixteen float32 lanes.
// Built with AVX-512 F, BW and VL enabled in this file only (never FMA:
// every product is rounded before it is added); how each output is
// computed is said in wide_across.h, wide_down.h and wide_fused.h.
//
// GCC 12 warns that the undefined vector some of its AVX-512 intrinsics
// pass as the unused merge source is (or may be) used uninitialized; it is
// never read: the mask is all ones. The warnings are off for this file
// only; the same templates are built with them on for the SSE2 and AVX2
// implementations.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <cstdint>

#include "simd/pass_sse_wide.h"
#include "simd/wide_fused.h"

namespace lowpass {

namespace {

struct Avx512Vectors {
    using Vec = __m512;
    static constexpr int kLanes = 16;
    // Vectors summed side by side: as many as the registers hold (eight ZMM
    // registers in 32-bit code, thirty-two in 64-bit code). Down the
    // columns, short kernels were faster with half as many at a time (the
    // row's set-up is cheap, and narrower blocks leave less to the tail).
    static constexpr bool k64 = sizeof(void*) == 8;
    static constexpr int kInFlight = k64 ? 16 : 6;
    static constexpr int kDownInFlight = k64 ? 8 : 6;
    static constexpr int kDownInFlightLong = k64 ? 16 : 6;

    static Vec Load(const float* p) { return _mm512_loadu_ps(p); }
    static void Store(float* p, Vec v) { _mm512_storeu_ps(p, v); }
    static Vec LoadAligned(const float* p) { return _mm512_load_ps(p); }
    // Lane 0 of a table entry, in all sixteen lanes.
    static Vec Broadcast(const float* entry) { return _mm512_set1_ps(*entry); }
    static Vec Mul(Vec a, Vec b) { return _mm512_mul_ps(a, b); }
    static Vec Add(Vec a, Vec b) { return _mm512_add_ps(a, b); }

    // Sixteen int16 samples to sixteen float32 values (exact).
    static constexpr int kWidenStep = 16;
    static void WidenStep(float* out, const std::int16_t* in) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        _mm512_storeu_ps(out, _mm512_cvtepi32_ps(_mm512_cvtepi16_epi32(s)));
    }
    // Results: converted under the rounding control, packed with saturation.
    // PACKSSDW works within each 128-bit quarter; the permute puts the
    // quarters back in order.
    static void Store2(std::int16_t* out, Vec a, Vec b) {
        const __m512i packed = _mm512_packs_epi32(_mm512_cvtps_epi32(a), _mm512_cvtps_epi32(b));
        const __m512i order = _mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0);
        _mm512_storeu_si512(out, _mm512_permutexvar_epi64(order, packed));
    }
    // One vector's results: VPMOVSDW saturates as PACKSSDW does.
    static void Store1(std::int16_t* out, Vec a) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(a)));
    }
    // The value a result becomes when stored as int16 and widened again:
    // converted under the rounding control, saturated (as PACKSSDW does:
    // 0x80000000 from an out-of-range sum gives -32768), back to float32.
    static Vec Requantize(Vec a) {
        __m512i i = _mm512_cvtps_epi32(a);
        i = _mm512_min_epi32(_mm512_max_epi32(i, _mm512_set1_epi32(-32768)), _mm512_set1_epi32(32767));
        return _mm512_cvtepi32_ps(i);
    }
    static Vec RequantizeInRange(Vec a) { return _mm512_cvtepi32_ps(_mm512_cvtps_epi32(a)); }

    // 32 int16 samples at a time, for the largest magnitude of a row
    // (WidenWithPeak).
    using Words = __m512i;
    static constexpr int kWords = 32;
    static Words LoadWords(const std::int16_t* in) { return _mm512_loadu_si512(in); }
    static Words MaxWords(Words a, Words b) { return _mm512_max_epi16(a, b); }
    static Words MinWords(Words a, Words b) { return _mm512_min_epi16(a, b); }
    static void StoreWords(std::int16_t* out, Words a) { _mm512_storeu_si512(out, a); }
};

}  // namespace

void HorizontalPassAvx512(const PassJob& job) { HorizontalPassWide<Avx512Vectors>(job); }
void VerticalPassAvx512(const PassJob& job) { VerticalPassWide<Avx512Vectors>(job); }
void FusedPassesAvx512(const FusedJob& job) { FusedPassesWide<Avx512Vectors>(job); }

}  // namespace lowpass
