// Kernel design: known coefficient rows, each direction's cutoff from its
// own target and frame size, the three numeric forms, the unit impulse
// before the first settings update, and table alignment.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

#include "core/kernel.h"

using lowpass::WindowWeights;

namespace {

lowpass::KernelCache kernelCache;

// Builds the tables for a frame of w x h with X, Y, N and the given window.
void BuildFor(const WindowWeights& weights, int x, int y, int taps, int w, int h) {
    lowpass::RebuildKernel(kernelCache, lowpass::KernelSettings{x, y, taps, weights}, w, h);
}

std::vector<int> FixedRow(const lowpass::KernelTables& t, int taps) {
    return std::vector<int>(t.fixedTaps, t.fixedTaps + 2 * taps + 1);
}

int Sum(const std::vector<int>& v) {
    int s = 0;
    for (int x : v) s += x;
    return s;
}

struct TableRow {
    const char* name;
    WindowWeights weights;
    int w;
    std::vector<int> taps;
    int sum;
};

}  // namespace

TEST(KernelDesign, FixedTapsMatchKnownRowsForThreeTaps) {
    const std::vector<TableRow> rows = {
        {"rectangular 640", lowpass::kRectangularWindow, 640, {-4881, 0, 14645, 46009, 14645, 0, -4881}, 65537},
        {"rectangular 720", lowpass::kRectangularWindow, 720, {-3880, 2298, 13236, 42225, 13236, 2298, -3880}, 65533},
        {"hanning 640", lowpass::kHanningWindow, 640, {0, 0, 10589, 44357, 10589, 0, 0}, 65535},
        {"hamming 720", lowpass::kHammingWindow, 720, {-320, 736, 10533, 43638, 10533, 736, -320}, 65536},
        {"blackman 720", lowpass::kBlackmanWindow, 720, {0, 329, 9184, 46508, 9184, 329, 0}, 65534},
    };
    for (const TableRow& row : rows) {
        SCOPED_TRACE(row.name);
        // The horizontal direction is built from X = 320 and w; the vertical
        // one from Y and h, so a square target exercises both directions.
        BuildFor(row.weights, 320, 320, 3, row.w, row.w);
        const std::vector<int> horizontal = FixedRow(kernelCache.horizontal, 3);
        const std::vector<int> vertical = FixedRow(kernelCache.vertical, 3);
        EXPECT_EQ(horizontal, row.taps);
        EXPECT_EQ(vertical, row.taps);
        EXPECT_EQ(Sum(horizontal), row.sum);
    }
}

TEST(KernelDesign, MmxTapsAreLow16BitsOfTruncated214Form) {
    BuildFor(lowpass::kRectangularWindow, 320, 240, 3, 640, 480);
    const std::array<std::uint16_t, 7> expected = {0xfb3c, 0x0000, 0x0e4d, 0x2cee, 0x0e4d, 0x0000, 0xfb3c};
    for (int k = 0; k < 7; ++k)
        for (int lane = 0; lane < 4; ++lane)
            EXPECT_EQ(static_cast<std::uint16_t>(kernelCache.horizontal.mmxTaps[k][lane]), expected[k])
                << "tap " << k << " lane " << lane;
}

TEST(KernelDesign, SseTapsAreTheCoefficientRoundedToFloatInFourLanes) {
    BuildFor(lowpass::kHammingWindow, 320, 240, 5, 720, 480);
    for (int k = 0; k < 11; ++k) {
        const float first = kernelCache.horizontal.sseTaps[k][0];
        for (int lane = 1; lane < 4; ++lane) EXPECT_EQ(kernelCache.horizontal.sseTaps[k][lane], first);
        // The float form and the 16.16 form come from the same coefficient:
        // truncating the float's 16.16 value may differ only where the float
        // rounding crosses an integer.
        EXPECT_NEAR(static_cast<double>(first) * 65536.0, kernelCache.horizontal.fixedTaps[k], 1.0);
    }
    for (float bias : kernelCache.roundingBias) EXPECT_EQ(bias, 0.5f);
    EXPECT_EQ(kernelCache.valid, 1);
    EXPECT_EQ(kernelCache.width, 720);
    EXPECT_EQ(kernelCache.height, 480);
}

TEST(KernelDesign, ZeroWeightsGiveUnitImpulseForEveryTapCount) {
    for (int taps = 1; taps <= lowpass::kMaxTaps; ++taps) {
        SCOPED_TRACE(taps);
        BuildFor(WindowWeights{0.0, 0.0, 0.0}, 320, 240, taps, 720, 480);
        for (const lowpass::KernelTables* t : {&kernelCache.horizontal, &kernelCache.vertical}) {
            for (int k = 0; k <= 2 * taps; ++k) {
                const bool centre = k == taps;
                EXPECT_EQ(t->fixedTaps[k], centre ? 65536 : 0) << "tap " << k;
                EXPECT_EQ(t->mmxTaps[k][0], centre ? 16384 : 0) << "tap " << k;
                EXPECT_EQ(t->sseTaps[k][3], centre ? 1.0f : 0.0f) << "tap " << k;
            }
        }
    }
}

TEST(KernelDesign, HanningAndBlackmanAtOneTapAreUnitImpulse) {
    for (const WindowWeights& weights : {lowpass::kHanningWindow, lowpass::kBlackmanWindow}) {
        BuildFor(weights, 320, 240, 1, 720, 480);
        EXPECT_EQ(FixedRow(kernelCache.horizontal, 1), (std::vector<int>{0, 65536, 0}));
        EXPECT_EQ(kernelCache.horizontal.mmxTaps[1][0], 16384);
    }
}

TEST(KernelDesign, QuarterCutoffZeroesEvenOffsetsForEveryWindow) {
    for (const WindowWeights& weights : {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                         lowpass::kHammingWindow, lowpass::kBlackmanWindow}) {
        // X = w / 2 gives fc = 0.25.
        BuildFor(weights, 360, 240, 8, 720, 480);
        for (int k = 0; k <= 16; ++k) {
            const int offset = k - 8;
            if (offset != 0 && offset % 2 == 0) {
                EXPECT_EQ(kernelCache.horizontal.fixedTaps[k], 0) << "offset " << offset;
                EXPECT_EQ(kernelCache.horizontal.mmxTaps[k][0], 0) << "offset " << offset;
            }
        }
        EXPECT_NE(kernelCache.horizontal.fixedTaps[8 + 1], 0);
    }
}

TEST(KernelDesign, DesignKernelIsSymmetricWithCentreOneAndReturnsItsSum) {
    double values[lowpass::kMaxKernelLength];
    const double sum = lowpass::DesignKernel(values, 0.2, 15, lowpass::kBlackmanWindow);
    EXPECT_EQ(values[15], 1.0);
    double check = 0.0;
    for (int k = 0; k < 31; ++k) check += values[k];
    EXPECT_NEAR(sum, check, 1e-12);
    for (int i = 1; i <= 15; ++i) EXPECT_EQ(values[15 + i], values[15 - i]);
    // The Blackman window reaches zero at the last offset (up to rounding).
    EXPECT_NEAR(values[30], 0.0, 1e-16);
}

TEST(KernelDesign, TablesAreSixteenByteAligned) {
    for (int k = 0; k < lowpass::kMaxKernelLength; ++k) {
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&kernelCache.horizontal.sseTaps[k]) % 16, 0u) << k;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&kernelCache.vertical.sseTaps[k]) % 16, 0u) << k;
    }
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(&kernelCache.roundingBias) % 16, 0u);
}

TEST(KernelDesign, DegenerateFrameSizesStayDefined) {
    // A zero-sized frame gives an infinite cutoff; the conversions must not
    // be undefined (the sanitizer build checks) and the tables get the
    // processor's "integer indefinite" answer.
    BuildFor(lowpass::kRectangularWindow, 320, 240, 3, 0, 0);
    EXPECT_EQ(kernelCache.horizontal.fixedTaps[3], INT32_MIN);
    EXPECT_EQ(lowpass::TruncateToInt32(std::nan("")), INT32_MIN);
    EXPECT_EQ(lowpass::TruncateToInt32(3e9), INT32_MIN);
    EXPECT_EQ(lowpass::TruncateToInt32(-2147483648.5), INT32_MIN);
    EXPECT_EQ(lowpass::TruncateToInt32(-2.9), -2);
    EXPECT_EQ(lowpass::TruncateToInt32(2147483647.9), 2147483647);
}

TEST(KernelDesign, TapSliderOutsideTableCapacityIsClamped) {
    EXPECT_EQ(lowpass::ClampTaps(40), lowpass::kMaxTaps);
    EXPECT_EQ(lowpass::ClampTaps(-2), 0);
    EXPECT_EQ(lowpass::ClampTaps(7), 7);
}

// Each direction's kernel against the design written out here in long
// double, for a frame and target that differ in both directions and the
// longest kernel: the horizontal cutoff is X / (2 w), the vertical one
// Y / (2 h). The fixed-point forms truncate toward zero: where the exact
// value lies clearly between two integers the table holds the one nearer
// zero (a form that rounds instead fails at the taps whose fraction is a
// half or more); within rounding distance of an integer either neighbour
// is accepted.
TEST(KernelDesign, EachDirectionHasItsOwnCutoffAtFifteenTaps) {
    constexpr int kTaps = 15;
    const int x = 300, y = 170, w = 720, h = 406;
    BuildFor(lowpass::kHammingWindow, x, y, kTaps, w, h);
    const long double pi = 3.141592653589793238462643383279L;
    auto exact = [&](int target, int size, int k) {
        const long double fc = static_cast<long double>(target) / (2.0L * size);
        long double v[2 * kTaps + 1];
        long double sum = 0;
        for (int j = 0; j <= 2 * kTaps; ++j) {
            const int i = j < kTaps ? kTaps - j : j - kTaps;
            if (i == 0) {
                v[j] = 1.0L;
            } else {
                const long double c = std::cos(pi * (1.0L - static_cast<long double>(i) / kTaps));
                const long double shape = 0.54L - 0.46L * c;
                v[j] = std::sin(2.0L * fc * i * pi) * shape / (i * pi);
            }
            sum += v[j];
        }
        return v[k] / sum;
    };
    int halfOrMore = 0;  // taps whose fraction would round away from zero
    auto expectTruncated = [&](long double value, long double scale, int got, const char* what, int k) {
        const long double scaled = value * scale;
        const long double toward = std::trunc(scaled);
        const long double fraction = std::fabs(scaled - toward);
        if (fraction > 1e-6L && fraction < 1 - 1e-6L) {
            EXPECT_EQ(got, static_cast<int>(toward)) << what << " tap " << k << " exact " << static_cast<double>(scaled);
            if (fraction >= 0.5L) ++halfOrMore;
        } else {
            EXPECT_NEAR(got, static_cast<double>(scaled), 1.0) << what << " tap " << k;
        }
    };
    for (int k = 0; k <= 2 * kTaps; ++k) {
        const long double across = exact(x, w, k), down = exact(y, h, k);
        expectTruncated(across, 65536, kernelCache.horizontal.fixedTaps[k], "horizontal fixed", k);
        expectTruncated(down, 65536, kernelCache.vertical.fixedTaps[k], "vertical fixed", k);
        expectTruncated(across, 16384, kernelCache.horizontal.mmxTaps[k][2], "horizontal mmx", k);
        expectTruncated(down, 16384, kernelCache.vertical.mmxTaps[k][2], "vertical mmx", k);
        EXPECT_NEAR(kernelCache.horizontal.sseTaps[k][1], static_cast<double>(across), 1e-7) << "tap " << k;
        EXPECT_NEAR(kernelCache.vertical.sseTaps[k][1], static_cast<double>(down), 1e-7) << "tap " << k;
    }
    EXPECT_GT(halfOrMore, 10) << "the case must have taps that rounding would change";
    EXPECT_NE(kernelCache.horizontal.fixedTaps[kTaps + 1], kernelCache.vertical.fixedTaps[kTaps + 1]);
}

// The cache fits only the size and the settings it was built for.
TEST(KernelDesign, CacheFitsItsOwnSizeAndSettingsOnly) {
    const lowpass::KernelSettings built{320, 240, 3, lowpass::kBlackmanWindow};
    lowpass::RebuildKernel(kernelCache, built, 720, 480);
    EXPECT_TRUE(lowpass::KernelCacheFits(kernelCache, built, 720, 480));
    EXPECT_FALSE(lowpass::KernelCacheFits(kernelCache, built, 722, 480));
    EXPECT_FALSE(lowpass::KernelCacheFits(kernelCache, built, 720, 482));
    for (lowpass::KernelSettings other : {lowpass::KernelSettings{321, 240, 3, lowpass::kBlackmanWindow},
                                          lowpass::KernelSettings{320, 241, 3, lowpass::kBlackmanWindow},
                                          lowpass::KernelSettings{320, 240, 4, lowpass::kBlackmanWindow},
                                          lowpass::KernelSettings{320, 240, 3, lowpass::kHammingWindow}})
        EXPECT_FALSE(lowpass::KernelCacheFits(kernelCache, other, 720, 480));
    lowpass::InvalidateKernelCache(kernelCache);
    EXPECT_FALSE(lowpass::KernelCacheFits(kernelCache, built, 720, 480));
}
