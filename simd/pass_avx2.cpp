// The SSE engine's arithmetic on AVX2 registers: eight float32 lanes.
// Built with AVX2 enabled in this file only (never FMA: every product is
// rounded before it is added); how each output is computed is said in
// wide_across.h, wide_down.h and wide_fused.h.
#include <immintrin.h>

#include <cstdint>

#include "simd/pass_sse_wide.h"
#include "simd/wide_fused.h"

namespace lowpass {

namespace {

struct Avx2Vectors {
    using Vec = __m256;
    static constexpr int kLanes = 8;
    // Vectors summed side by side: as many as the registers hold (eight YMM
    // registers in 32-bit code, sixteen in 64-bit code).
    static constexpr int kInFlight = sizeof(void*) == 8 ? 8 : 4;
    static constexpr int kDownInFlight = kInFlight;
    static constexpr int kDownInFlightLong = kInFlight;

    static Vec Load(const float* p) { return _mm256_loadu_ps(p); }
    static void Store(float* p, Vec v) { _mm256_storeu_ps(p, v); }
    static Vec LoadAligned(const float* p) { return _mm256_load_ps(p); }
    // Lane 0 of a table entry, in all eight lanes.
    static Vec Broadcast(const float* entry) { return _mm256_broadcast_ss(entry); }
    static Vec Mul(Vec a, Vec b) { return _mm256_mul_ps(a, b); }
    static Vec Add(Vec a, Vec b) { return _mm256_add_ps(a, b); }

    // Eight int16 samples to eight float32 values (exact).
    static constexpr int kWidenStep = 8;
    static void WidenStep(float* out, const std::int16_t* in) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm256_storeu_ps(out, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(s)));
    }
    // Results: converted under the rounding control, packed with saturation.
    // PACKSSDW works within each 128-bit half; the permute puts the halves
    // back in order.
    static void Store2(std::int16_t* out, Vec a, Vec b) {
        const __m256i packed = _mm256_packs_epi32(_mm256_cvtps_epi32(a), _mm256_cvtps_epi32(b));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute4x64_epi64(packed, 0xD8));
    }
    // The value a result becomes when stored as int16 and widened again:
    // converted under the rounding control, saturated (as PACKSSDW does:
    // 0x80000000 from an out-of-range sum gives -32768), back to float32.
    static Vec Requantize(Vec a) {
        __m256i i = _mm256_cvtps_epi32(a);
        i = _mm256_min_epi32(_mm256_max_epi32(i, _mm256_set1_epi32(-32768)), _mm256_set1_epi32(32767));
        return _mm256_cvtepi32_ps(i);
    }
    static Vec RequantizeInRange(Vec a) { return _mm256_cvtepi32_ps(_mm256_cvtps_epi32(a)); }

    // 16 int16 samples at a time, for the largest magnitude of a row
    // (WidenWithPeak).
    using Words = __m256i;
    static constexpr int kWords = 16;
    static Words LoadWords(const std::int16_t* in) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in)); }
    static Words MaxWords(Words a, Words b) { return _mm256_max_epi16(a, b); }
    static Words MinWords(Words a, Words b) { return _mm256_min_epi16(a, b); }
    static void StoreWords(std::int16_t* out, Words a) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), a); }
    static void Store1(std::int16_t* out, Vec a) {
        const __m256i i = _mm256_cvtps_epi32(a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_packs_epi32(_mm256_castsi256_si128(i), _mm256_extracti128_si256(i, 1)));
    }
};

}  // namespace

void HorizontalPassAvx2(const PassJob& job) { HorizontalPassWide<Avx2Vectors>(job); }
void VerticalPassAvx2(const PassJob& job) { VerticalPassWide<Avx2Vectors>(job); }
void FusedPassesAvx2(const FusedJob& job) { FusedPassesWide<Avx2Vectors>(job); }

}  // namespace lowpass
