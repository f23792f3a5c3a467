// The edge arithmetic both vector engines share: which products make one
// output of a line, in which order, and how the taps beyond an edge are
// folded into one weight. The engines differ only in their arithmetic
// (wrapping 16-bit integers against float32), which they pass in.
//
// Internal linkage on purpose: each engine's file is built with its own
// instruction set, and each must get its own copy.
#pragma once

#include "core/kernel_tables.h"

namespace lowpass {
namespace {

// One product of an output: the sample at `position` of the line times the
// sum of the taps firstTap .. lastTap (one tap, except where an edge folds
// several into one weight).
struct LineTerm {
    int position;
    int firstTap;
    int lastTap;
};

// The products of output p of a line of `length` samples (length >= 2N + 1,
// so no output has both edges), in the order the engines sum them:
//  - near edge, p < N: the weight of taps 0 .. N - p times sample 0 first,
//    then taps N - p + 1 .. 2N times samples 1 .. p + N;
//  - middle: taps 0 .. 2N times samples p - N .. p + N;
//  - far edge, p = length - N + j: taps 0 .. 2N - j - 2 times samples
//    p - N .. length - 2, then the weight of taps 2N - j - 1 .. 2N times the
//    last sample.
// Returns the number of terms (at most 2N + 1).
inline int LineTerms(LineTerm* terms, int p, int length, int n) {
    int count = 0;
    if (p < n) {
        terms[count++] = LineTerm{0, 0, n - p};
        for (int k = n - p + 1; k <= 2 * n; ++k) terms[count++] = LineTerm{p + k - n, k, k};
    } else if (p < length - n) {
        for (int k = 0; k <= 2 * n; ++k) terms[count++] = LineTerm{p + k - n, k, k};
    } else {
        const int j = p - (length - n);
        for (int k = 0; k <= 2 * n - j - 2; ++k) terms[count++] = LineTerm{p + k - n, k, k};
        terms[count++] = LineTerm{length - 1, 2 * n - j - 1, 2 * n};
    }
    return count;
}

// The weight of taps first .. last: their sum, from zero, in ascending tap
// order, in the engine's arithmetic (`add`), each entry read by `load`.
template <class Vector, class Entry, class Load, class Add>
inline Vector EdgeWeight(const Entry* taps, int first, int last, Vector zero, Load load, Add add) {
    Vector weight = zero;
    for (int k = first; k <= last; ++k) weight = add(weight, load(taps[k]));
    return weight;
}

// The coefficient of one term: the tap itself, or the folded edge weight.
template <class Vector, class Entry, class Load, class Add>
inline Vector TermWeight(const Entry* taps, const LineTerm& term, Vector zero, Load load, Add add) {
    if (term.firstTap == term.lastTap) return load(taps[term.firstTap]);
    return EdgeWeight(taps, term.firstTap, term.lastTap, zero, load, add);
}

}  // namespace
}  // namespace lowpass
