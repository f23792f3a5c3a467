// The SSE engine's arithmetic on SSE2 registers: four float32 lanes, the
// conversion to int32 and the packing to int16 on XMM registers (no MMX).
// Built with SSE2 enabled in this file only; how each output is computed is
// said in wide_across.h, wide_down.h and wide_fused.h.
#include <emmintrin.h>

#include <cstdint>

#include "simd/pass_sse_wide.h"
#include "simd/wide_fused.h"

namespace lowpass {

namespace {

struct Sse2Vectors {
    using Vec = __m128;
    static constexpr int kLanes = 4;
    // Vectors summed side by side: as many as the registers hold (eight XMM
    // registers in 32-bit code, sixteen in 64-bit code).
    static constexpr int kInFlight = sizeof(void*) == 8 ? 8 : 4;
    static constexpr int kDownInFlight = kInFlight;
    static constexpr int kDownInFlightLong = kInFlight;

    static Vec Load(const float* p) { return _mm_loadu_ps(p); }
    static void Store(float* p, Vec v) { _mm_storeu_ps(p, v); }
    static Vec LoadAligned(const float* p) { return _mm_load_ps(p); }
    // A table entry of four equal copies, 16-byte aligned.
    static Vec Broadcast(const float* entry) { return _mm_load_ps(entry); }
    static Vec Mul(Vec a, Vec b) { return _mm_mul_ps(a, b); }
    static Vec Add(Vec a, Vec b) { return _mm_add_ps(a, b); }

    // Eight int16 samples to eight float32 values (exact).
    static constexpr int kWidenStep = 8;
    static void WidenStep(float* out, const std::int16_t* in) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_ps(out, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(s, s), 16)));
        _mm_storeu_ps(out + 4, _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpackhi_epi16(s, s), 16)));
    }
    // Results: converted under the rounding control, packed with saturation.
    static void Store2(std::int16_t* out, Vec a, Vec b) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
    // The value a result becomes when stored as int16 and widened again:
    // converted under the rounding control, saturated, back to float32.
    static Vec Requantize(Vec a) {
        const __m128i i = _mm_cvtps_epi32(a);
        const __m128i packed = _mm_packs_epi32(i, i);
        return _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(packed, packed), 16));
    }
    static Vec RequantizeInRange(Vec a) { return _mm_cvtepi32_ps(_mm_cvtps_epi32(a)); }

    // 8 int16 samples at a time, for the largest magnitude of a row
    // (WidenWithPeak).
    using Words = __m128i;
    static constexpr int kWords = 8;
    static Words LoadWords(const std::int16_t* in) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)); }
    static Words MaxWords(Words a, Words b) { return _mm_max_epi16(a, b); }
    static Words MinWords(Words a, Words b) { return _mm_min_epi16(a, b); }
    static void StoreWords(std::int16_t* out, Words a) { _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a); }
    static void Store1(std::int16_t* out, Vec a) {
        const __m128i i = _mm_cvtps_epi32(a);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(i, i));
    }
};

}  // namespace

void HorizontalPassSse2(const PassJob& job) { HorizontalPassWide<Sse2Vectors>(job); }
void VerticalPassSse2(const PassJob& job) { VerticalPassWide<Sse2Vectors>(job); }
void FusedPassesSse2(const FusedJob& job) { FusedPassesWide<Sse2Vectors>(job); }

}  // namespace lowpass
