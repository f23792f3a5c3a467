// The float passes with AVX2 and F16C: two pixels (eight lanes) to a
// vector, the same arithmetic as the portable passes lane by lane (no
// fused multiply-add: the file is built with -mno-fma). The ends of a row
// across, and a last odd pixel, go through the shared general output.
#include "simd/float_pass_avx2.h"

#include <immintrin.h>

#include "core/float_terms.h"

namespace lowpass {

namespace {

constexpr int kPixelsPerVector = 2;
constexpr int kFloatsPerVector = 8;

__m256 Load(const float* p) { return _mm256_loadu_ps(p); }

}  // namespace

void HalfToFloatRowAvx2(const std::uint16_t* halves, float* out, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(halves + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(halves + i + 8));
        _mm256_storeu_ps(out + i, _mm256_cvtph_ps(a));
        _mm256_storeu_ps(out + i + 8, _mm256_cvtph_ps(b));
    }
    for (; i + 8 <= count; i += 8)
        _mm256_storeu_ps(out + i, _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves + i))));
    for (; i < count; ++i) out[i] = HalfBitsToFloat(halves[i]);
}

void HorizontalFloatPassAvx2(const FloatAcrossJob& job) {
    const FloatTaps& t = *job.taps;
    const int n = t.n;
    const int w = job.w;
    const float* s = job.source;
    float* d = job.destination;
    const auto at = [s](int q) { return s + kFloatLanes * q; };
    // Outputs n + 1 .. w - 2 - n reach neither end: every pair is plain.
    const int first = n + 1;
    const int last = w - 2 - n;
    if (first > last) {
        for (int p = 0; p < w; ++p) FloatOutput(d + kFloatLanes * p, at, p, w, t);
        return;
    }
    for (int p = 0; p < first; ++p) FloatOutput(d + kFloatLanes * p, at, p, w, t);
    int p = first;
    const __m256 centreTap = _mm256_set1_ps(t.tap[0]);
    for (; p + 4 * kPixelsPerVector - 1 <= last; p += 4 * kPixelsPerVector) {
        const float* c = s + kFloatLanes * p;
        __m256 a0 = _mm256_mul_ps(centreTap, Load(c));
        __m256 a1 = _mm256_mul_ps(centreTap, Load(c + 8));
        __m256 a2 = _mm256_mul_ps(centreTap, Load(c + 16));
        __m256 a3 = _mm256_mul_ps(centreTap, Load(c + 24));
        for (int j = 1; j <= n; ++j) {
            const __m256 tap = _mm256_set1_ps(t.tap[j]);
            const float* l = c - kFloatLanes * j;
            const float* r = c + kFloatLanes * j;
            a0 = _mm256_add_ps(a0, _mm256_mul_ps(tap, _mm256_add_ps(Load(l), Load(r))));
            a1 = _mm256_add_ps(a1, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 8), Load(r + 8))));
            a2 = _mm256_add_ps(a2, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 16), Load(r + 16))));
            a3 = _mm256_add_ps(a3, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 24), Load(r + 24))));
        }
        float* o = d + kFloatLanes * p;
        _mm256_storeu_ps(o, a0);
        _mm256_storeu_ps(o + 8, a1);
        _mm256_storeu_ps(o + 16, a2);
        _mm256_storeu_ps(o + 24, a3);
    }
    for (; p + kPixelsPerVector - 1 <= last; p += kPixelsPerVector) {
        const float* c = s + kFloatLanes * p;
        __m256 a = _mm256_mul_ps(centreTap, Load(c));
        for (int j = 1; j <= n; ++j) {
            const __m256 tap = _mm256_set1_ps(t.tap[j]);
            a = _mm256_add_ps(a,
                              _mm256_mul_ps(tap, _mm256_add_ps(Load(c - kFloatLanes * j), Load(c + kFloatLanes * j))));
        }
        _mm256_storeu_ps(d + kFloatLanes * p, a);
    }
    for (; p < w; ++p) FloatOutput(d + kFloatLanes * p, at, p, w, t);
}

void VerticalFloatPassAvx2(const FloatDownJob& job) {
    const FloatTaps& t = *job.taps;
    const int n = t.n;
    const int p = job.p;
    const int h = job.h;
    const int count = kFloatLanes * job.w;
    const int vectorEnd = count / kFloatsPerVector * kFloatsPerVector;
    const float* const* rows = job.rows;
    float* d = job.destination;
    const float* centre = rows[n];

    if (p > n && p < h - 1 - n) {
        // Every pair plain.
        const __m256 centreTap = _mm256_set1_ps(t.tap[0]);
        int i = 0;
        for (; i + 4 * kFloatsPerVector <= vectorEnd; i += 4 * kFloatsPerVector) {
            __m256 a0 = _mm256_mul_ps(centreTap, Load(centre + i));
            __m256 a1 = _mm256_mul_ps(centreTap, Load(centre + i + 8));
            __m256 a2 = _mm256_mul_ps(centreTap, Load(centre + i + 16));
            __m256 a3 = _mm256_mul_ps(centreTap, Load(centre + i + 24));
            for (int j = 1; j <= n; ++j) {
                const __m256 tap = _mm256_set1_ps(t.tap[j]);
                const float* l = rows[n - j] + i;
                const float* r = rows[n + j] + i;
                a0 = _mm256_add_ps(a0, _mm256_mul_ps(tap, _mm256_add_ps(Load(l), Load(r))));
                a1 = _mm256_add_ps(a1, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 8), Load(r + 8))));
                a2 = _mm256_add_ps(a2, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 16), Load(r + 16))));
                a3 = _mm256_add_ps(a3, _mm256_mul_ps(tap, _mm256_add_ps(Load(l + 24), Load(r + 24))));
            }
            _mm256_storeu_ps(d + i, a0);
            _mm256_storeu_ps(d + i + 8, a1);
            _mm256_storeu_ps(d + i + 16, a2);
            _mm256_storeu_ps(d + i + 24, a3);
        }
        for (; i < vectorEnd; i += kFloatsPerVector) {
            __m256 a = _mm256_mul_ps(centreTap, Load(centre + i));
            for (int j = 1; j <= n; ++j) {
                const __m256 tap = _mm256_set1_ps(t.tap[j]);
                a = _mm256_add_ps(a, _mm256_mul_ps(tap, _mm256_add_ps(Load(rows[n - j] + i), Load(rows[n + j] + i))));
            }
            _mm256_storeu_ps(d + i, a);
        }
    } else {
        // A row within n + 1 of an end: the same terms for every lane, by
        // the general rule, decided once per distance.
        enum Kind { kPair, kBoth, kLeft, kRight };
        Kind kind[kMaxTaps + 1];
        float wl[kMaxTaps + 1];
        float wr[kMaxTaps + 1];
        int reach = 0;
        for (int j = 1; j <= n; ++j) {
            const int l = p - j;
            const int r = p + j;
            const bool hasL = l >= 0;
            const bool hasR = r <= h - 1;
            if (!hasL && !hasR) break;
            reach = j;
            wl[j] = l > 0 ? t.tap[j] : t.fold[j];
            wr[j] = r < h - 1 ? t.tap[j] : t.fold[j];
            kind[j] = (l > 0 && r < h - 1) ? kPair : (hasL && hasR) ? kBoth : hasL ? kLeft : kRight;
        }
        float c = t.tap[0];
        if (n > 0 && p == 0) c = c + t.fold[1];
        if (n > 0 && p == h - 1) c = c + t.fold[1];
        const __m256 centreWeight = _mm256_set1_ps(c);
        for (int i = 0; i < vectorEnd; i += kFloatsPerVector) {
            __m256 a = _mm256_mul_ps(centreWeight, Load(centre + i));
            for (int j = 1; j <= reach; ++j) {
                switch (kind[j]) {
                    case kPair:
                        a = _mm256_add_ps(a,
                                          _mm256_mul_ps(_mm256_set1_ps(t.tap[j]),
                                                        _mm256_add_ps(Load(rows[n - j] + i), Load(rows[n + j] + i))));
                        break;
                    case kBoth:
                        a = _mm256_add_ps(a,
                                          _mm256_add_ps(_mm256_mul_ps(_mm256_set1_ps(wl[j]), Load(rows[n - j] + i)),
                                                        _mm256_mul_ps(_mm256_set1_ps(wr[j]), Load(rows[n + j] + i))));
                        break;
                    case kLeft:
                        a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_set1_ps(wl[j]), Load(rows[n - j] + i)));
                        break;
                    case kRight:
                        a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_set1_ps(wr[j]), Load(rows[n + j] + i)));
                        break;
                }
            }
            _mm256_storeu_ps(d + i, a);
        }
    }
    // A last odd pixel.
    for (int x = vectorEnd / kFloatLanes; x < job.w; ++x) {
        const auto at = [rows, n, p, x](int q) { return rows[q - p + n] + kFloatLanes * x; };
        FloatOutput(d + kFloatLanes * x, at, p, h, t);
    }
}

void FinishHalfRowAvx2(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 one = _mm256_set1_ps(1.0f);
    const bool premultiplied = mode == FloatFinish::kPremultiplied;
    int x = 0;
    for (; x + kPixelsPerVector <= w; x += kPixelsPerVector) {
        const __m256 v = Load(in + kFloatLanes * x);
        // MAXPS and MINPS give their second operand when either is NaN.
        const __m256 alpha = opaque ? one : _mm256_min_ps(_mm256_max_ps(_mm256_permute_ps(v, 0xFF), zero), one);
        __m256 colours = _mm256_max_ps(v, zero);
        if (premultiplied) colours = _mm256_min_ps(colours, alpha);
        const __m256 result = _mm256_blend_ps(colours, alpha, 0x88);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kFloatLanes * x),
                         _mm256_cvtps_ph(result, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
    }
    for (; x < w; ++x) FinishPixel(in + kFloatLanes * x, out + kFloatLanes * x, mode, opaque);
}

int ScanHalfRowAvx2(const std::uint16_t* halves, int w) {
    __m256 above = _mm256_setzero_ps();
    __m256i notOpaque = _mm256_setzero_si256();
    const __m256i opaqueBits = _mm256_set1_epi32(0x3F800000);
    const __m256 alphaLanes = _mm256_castsi256_ps(_mm256_set_epi32(-1, 0, 0, 0, -1, 0, 0, 0));
    int x = 0;
    for (; x + kPixelsPerVector <= w; x += kPixelsPerVector) {
        const __m256 v = _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(halves + kFloatLanes * x)));
        const __m256 alpha = _mm256_permute_ps(v, 0xFF);
        above = _mm256_or_ps(above, _mm256_cmp_ps(v, alpha, _CMP_GT_OQ));  // alpha > alpha is false
        // Only 1.0 converts to the float 1.0; compared as bits, a NaN differs too.
        const __m256i a = _mm256_castps_si256(_mm256_and_ps(v, alphaLanes));
        const __m256i expected = _mm256_castps_si256(_mm256_and_ps(_mm256_castsi256_ps(opaqueBits), alphaLanes));
        notOpaque = _mm256_or_si256(notOpaque, _mm256_xor_si256(a, expected));
    }
    int found = 0;
    if (_mm256_movemask_ps(above) != 0) found |= kScanColourAboveAlpha;
    if (!_mm256_testz_si256(notOpaque, notOpaque)) found |= kScanNotOpaque;
    for (; x < w; ++x) found |= ScanPixel(halves + kFloatLanes * x);
    return found;
}

}  // namespace lowpass
