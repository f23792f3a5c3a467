// The float passes of the 64-bit plug-in: RGBA pixels of four float32
// lanes, low-passed along a row (across) or down a column (down) with a
// symmetric kernel, and the conversions between the editor's 16-bit
// floats (IEEE half precision) and float32.
//
// The arithmetic of one output, lane by lane, is fixed so that every
// implementation gives the same bits (no fused multiply-add, products and
// sums rounded to float32 in this order). For output p of a line of
// `length` samples s[0 .. length - 1], kernel half-length n, taps t[j] at
// distance j (t[j] weights both s[p - j] and s[p + j]):
//  - fold[j] = t[j] + fold[j + 1] for j = n down to 1 (fold[n] = t[n]): the
//    taps at distance j .. n, summed from the outermost inward. Taps that
//    fall beyond an end of the line are folded into the end sample's weight.
//  - The centre: c = t[0], plus fold[1] if p is the first sample, plus
//    fold[1] (again) if p is the last; acc = c * s[p].
//  - Then for j = 1 .. n, with l = p - j and r = p + j: a sample strictly
//    inside the line weighs t[j]; the end sample weighs fold[j]; a position
//    beyond the line has no term.
//      both strictly inside:   acc = acc + t[j] * (s[l] + s[r])
//      both present otherwise: acc = acc + (wl * s[l] + wr * s[r])
//      only one present:       acc = acc + w * s
//  - The output is acc.
// A line of any length (1 and up) is filtered; a flat line comes back
// within a few float32 units of the last place of its value (the float
// taps sum to 1 within their rounding), which converts back to the same
// half.
#pragma once

#include <cstdint>

#include "core/kernel_tables.h"

namespace lowpass {

constexpr int kFloatLanes = 4;  // r, g, b, a

// A symmetric kernel as the float passes read it.
struct FloatTaps {
    int n;                     // half-length, 0 .. kMaxTaps
    float tap[kMaxTaps + 1];   // tap[j]: the weight at distance j
    float fold[kMaxTaps + 2];  // fold[j]: taps j .. n summed from n inward (j = 1 .. n)
};

// The taps at and after the centre of a 2n + 1 tap kernel (kernel[n + j]),
// with their folds.
FloatTaps MakeFloatTaps(const float* kernel, int n);

// One row across: `source` and `destination` hold w pixels of kFloatLanes
// floats each and do not overlap.
struct FloatAcrossJob {
    const float* source;
    float* destination;
    int w;
    const FloatTaps* taps;
};

// One output row of a pass down a picture h rows tall: rows[j] is the row
// at p - n + j (j = 0 .. 2n), each w pixels; only the rows inside the
// picture (0 .. h - 1) are read, the others may be null.
struct FloatDownJob {
    const float* const* rows;
    float* destination;
    int w;
    int p;
    int h;
    const FloatTaps* taps;
};

// What the passes hand back to the editor, after the last pass.
enum class FloatFinish {
    kLight,          // colours not below 0; light above 1.0 is kept
    kPremultiplied,  // colours not below 0 and at most their alpha
};

// Bits of ScanHalfRow's answer.
constexpr int kScanNotOpaque = 1;         // some alpha is not exactly 1.0
constexpr int kScanColourAboveAlpha = 2;  // some colour is above its alpha

// One implementation of the float passes: all its members give the same
// bits as every other implementation's.
struct FloatPasses {
    // count halves to float32 (exact).
    void (*toFloat)(const std::uint16_t* halves, float* out, int count);
    void (*across)(const FloatAcrossJob& job);
    void (*down)(const FloatDownJob& job);
    // w pixels: alpha taken to 0 .. 1 (NaN to 0), each colour to 0 and up
    // (NaN to 0) and, for kPremultiplied, to at most its pixel's alpha;
    // alpha written as 1.0 where `opaque`; then to halves, rounded to
    // nearest, ties to even (beyond the largest half: infinity).
    void (*finish)(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque);
    // w pixels of halves: kScanNotOpaque and kScanColourAboveAlpha as found
    // (a NaN is above nothing).
    int (*scan)(const std::uint16_t* halves, int w);
};

// The portable implementation: plain C++.
void HalfToFloatRowPortable(const std::uint16_t* halves, float* out, int count);
void HorizontalFloatPassPortable(const FloatAcrossJob& job);
void VerticalFloatPassPortable(const FloatDownJob& job);
void FinishHalfRowPortable(const float* in, std::uint16_t* out, int w, FloatFinish mode, bool opaque);
int ScanHalfRowPortable(const std::uint16_t* halves, int w);

// Half <-> float32, exactly as the processor's F16C conversions: a half
// NaN becomes a quiet float NaN with its payload in the top bits; a float
// NaN becomes a quiet half NaN keeping the payload's top bits; rounding to
// nearest, ties to even, subnormals kept, beyond the largest half infinity.
float HalfToFloat(std::uint16_t half);
std::uint16_t FloatToHalf(float value);

}  // namespace lowpass
