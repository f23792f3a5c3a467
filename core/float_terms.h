// The pieces of the float passes that every implementation shares, so that
// they agree bit for bit: the general output (any position of any line,
// by the rule in float_pass.h), the half conversions, and the last step
// for one pixel. An implementation runs these for the outputs its vectors
// do not cover (the ends of a line, a last odd pixel).
//
// Internal linkage on purpose: each implementation's file is built with
// its own instruction set, and each must get its own copy.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/float_pass.h"

namespace lowpass {
namespace {

// Output p of a line of `length` samples, lane by lane: at(q) gives the
// kFloatLanes floats of sample q.
template <class At>
inline void FloatOutput(float* out, At at, int p, int length, const FloatTaps& t) {
    const int n = t.n;
    float c = t.tap[0];
    if (n > 0 && p == 0) c = c + t.fold[1];
    if (n > 0 && p == length - 1) c = c + t.fold[1];
    float acc[kFloatLanes];
    const float* centre = at(p);
    for (int k = 0; k < kFloatLanes; ++k) acc[k] = c * centre[k];
    for (int j = 1; j <= n; ++j) {
        const int l = p - j;
        const int r = p + j;
        const bool hasL = l >= 0;
        const bool hasR = r <= length - 1;
        if (!hasL && !hasR) break;  // and so for every larger j
        const float wl = l > 0 ? t.tap[j] : t.fold[j];
        const float wr = r < length - 1 ? t.tap[j] : t.fold[j];
        if (l > 0 && r < length - 1) {
            const float* sl = at(l);
            const float* sr = at(r);
            for (int k = 0; k < kFloatLanes; ++k) acc[k] = acc[k] + t.tap[j] * (sl[k] + sr[k]);
        } else if (hasL && hasR) {
            const float* sl = at(l);
            const float* sr = at(r);
            for (int k = 0; k < kFloatLanes; ++k) acc[k] = acc[k] + (wl * sl[k] + wr * sr[k]);
        } else if (hasL) {
            const float* sl = at(l);
            for (int k = 0; k < kFloatLanes; ++k) acc[k] = acc[k] + wl * sl[k];
        } else {
            const float* sr = at(r);
            for (int k = 0; k < kFloatLanes; ++k) acc[k] = acc[k] + wr * sr[k];
        }
    }
    for (int k = 0; k < kFloatLanes; ++k) out[k] = acc[k];
}

inline std::uint32_t FloatBits(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

inline float BitsFloat(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

inline float HalfBitsToFloat(std::uint16_t half) {
    const std::uint32_t sign = static_cast<std::uint32_t>(half & 0x8000u) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1Fu;
    std::uint32_t mantissa = half & 0x3FFu;
    if (exponent == 0x1F) {  // infinity, or NaN made quiet
        return BitsFloat(sign | 0x7F800000u | (mantissa != 0 ? 0x00400000u : 0u) | (mantissa << 13));
    }
    if (exponent != 0) return BitsFloat(sign | ((exponent + 112) << 23) | (mantissa << 13));
    if (mantissa == 0) return BitsFloat(sign);
    // A subnormal half is a normal float: shift its leading one into place.
    std::uint32_t e = 113;
    while ((mantissa & 0x400u) == 0) {
        mantissa <<= 1;
        --e;
    }
    return BitsFloat(sign | (e << 23) | ((mantissa & 0x3FFu) << 13));
}

inline std::uint16_t FloatToHalfBits(float value) {
    const std::uint32_t bits = FloatBits(value);
    const auto sign = static_cast<std::uint16_t>((bits >> 16) & 0x8000u);
    const std::uint32_t magnitude = bits & 0x7FFFFFFFu;
    if (magnitude > 0x7F800000u)  // NaN: quiet, the payload's top bits
        return static_cast<std::uint16_t>(sign | 0x7E00u | ((magnitude >> 13) & 0x3FFu));
    if (magnitude >= 0x477FF000u) return static_cast<std::uint16_t>(sign | 0x7C00u);  // 65520 and up: infinity
    if (magnitude >= 0x38800000u) {                                                   // 2^-14 and up: a normal half
        std::uint32_t half = ((magnitude >> 23) - 112) << 10 | ((magnitude >> 13) & 0x3FFu);
        const std::uint32_t rest = magnitude & 0x1FFFu;
        if (rest > 0x1000u || (rest == 0x1000u && (half & 1u))) ++half;  // a carry moves into the exponent
        return static_cast<std::uint16_t>(sign | half);
    }
    if (magnitude <= 0x33000000u) return sign;  // 2^-25 and below: zero (2^-25 itself is a tie, to even)
    // A subnormal half: units of 2^-24.
    const std::uint32_t exponent = magnitude >> 23;  // 102 .. 112
    const std::uint32_t mantissa = (magnitude & 0x7FFFFFu) | 0x800000u;
    const std::uint32_t shift = 126 - exponent;  // 14 .. 24
    std::uint32_t half = mantissa >> shift;
    const std::uint32_t rest = mantissa & ((1u << shift) - 1);
    const std::uint32_t tie = 1u << (shift - 1);
    if (rest > tie || (rest == tie && (half & 1u))) ++half;
    return static_cast<std::uint16_t>(sign | half);
}

// The last step for one pixel (see FloatPasses::finish). The comparisons
// are those of the processor's MAXPS and MINPS with the bound second: a
// NaN gives the bound.
inline float AtLeastZero(float v) { return v > 0.0f ? v : 0.0f; }
inline float AtMost(float v, float bound) { return v < bound ? v : bound; }

inline void FinishPixel(const float* in, std::uint16_t* out, FloatFinish mode, bool opaque) {
    const float alpha = opaque ? 1.0f : AtMost(AtLeastZero(in[3]), 1.0f);
    for (int k = 0; k < 3; ++k) {
        float c = AtLeastZero(in[k]);
        if (mode == FloatFinish::kPremultiplied) c = AtMost(c, alpha);
        out[k] = FloatToHalfBits(c);
    }
    out[3] = FloatToHalfBits(alpha);
}

inline int ScanPixel(const std::uint16_t* halves) {
    const float a = HalfBitsToFloat(halves[3]);
    int found = halves[3] == 0x3C00u ? 0 : kScanNotOpaque;
    for (int k = 0; k < 3; ++k)
        if (HalfBitsToFloat(halves[k]) > a) found |= kScanColourAboveAlpha;
    return found;
}

}  // namespace
}  // namespace lowpass
