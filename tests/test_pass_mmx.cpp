// The MMX engine's model and examples worked by hand. The model is its
// arithmetic written out as slowly and obviously as possible: the sample
// pre-shifted by 2 with a 16-bit wrap, the upper half of the 32-bit
// product (a floor), the taps beyond an edge summed with a 16-bit wrap into
// one edge weight, and 16-bit wrapping sums, section by section in the
// order the engine computes them. test_engines.cpp compares the engine with
// it on random frames, sizes, strides and tables.
//
// On a processor without MMX the examples are skipped and say so.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/pass_mmx.h"
#include "tests/support/pass_check.h"

using lowpass::KernelTables;
using lowpass::standin::GuardedFrame;
using lowpass::testing::Channel;
using lowpass::testing::FrameOfLines;
using lowpass::testing::LineOf;
using lowpass::testing::PassTables;
using lowpass::testing::RunPass;

namespace {

int Wrap16(long long v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(v) & 0xffffu));
}

// PSLLW by 2, then PMULHW: the upper half of c times the wrapped 4*s.
int MmxProduct(int c, int s) {
    const long long product = static_cast<long long>(c) * Wrap16(4LL * s);
    // floor(product / 65536), written without relying on shifts of negatives
    return static_cast<int>(product >= 0 ? product / 65536 : -((-product + 65535) / 65536));
}

// One line of L samples filtered with the 2N+1 coefficients c[0..2N]
// (signed 16-bit values), section by section in the engine's order.
std::vector<int> MmxModelLine(const std::vector<int>& s, const int* c, int n) {
    const int length = static_cast<int>(s.size());
    std::vector<int> out(static_cast<std::size_t>(length));
    for (int p = 0; p < length; ++p) {
        int sum = 0;
        auto add = [&](int term) { sum = Wrap16(static_cast<long long>(sum) + term); };
        auto edge = [&](int first, int last, int sample) {
            int weight = 0;  // summed from 0 in ascending k, wrapping
            for (int k = first; k <= last; ++k) weight = Wrap16(static_cast<long long>(weight) + c[k]);
            add(MmxProduct(weight, sample));
        };
        if (p < n) {
            // near edge: the edge product first, then c(N-p+1) .. c2N
            edge(0, n - p, s[0]);
            for (int k = n - p + 1; k <= 2 * n; ++k) add(MmxProduct(c[k], s[p + k - n]));
        } else if (p < length - n) {
            for (int k = 0; k <= 2 * n; ++k) add(MmxProduct(c[k], s[p + k - n]));
        } else {
            // far edge, j = 0 .. N-1: c0 .. c(2N-j-2), then the edge product last
            const int j = p - (length - n);
            for (int k = 0; k <= 2 * n - j - 2; ++k) add(MmxProduct(c[k], s[p + k - n]));
            edge(2 * n - j - 1, 2 * n, s[length - 1]);
        }
        out[static_cast<std::size_t>(p)] = sum;
    }
    return out;
}

std::vector<int> MmxLine(const std::vector<int>& samples, const KernelTables& t, int n, bool) {
    std::vector<int> taps;
    for (int k = 0; k <= 2 * n; ++k) taps.push_back(t.mmxTaps[k][0]);
    return MmxModelLine(samples, taps.data(), n);
}

PassTables MmxTables(const std::vector<int>& taps) {
    PassTables t;
    for (std::size_t k = 0; k < taps.size(); ++k)
        for (int lane = 0; lane < 4; ++lane) t.tables.mmxTaps[k][lane] = static_cast<std::int16_t>(taps[k]);
    return t;
}

class MmxExamples : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = lowpass::testing::MissingCaps(lowpass::kCpuCapsMmx, "the MMX engine");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }
    static lowpass::Pass Pass(bool across) { return across ? lowpass::HorizontalPassMmx : lowpass::VerticalPassMmx; }
};

// N = 2 with the 2.14 entries -819, 4915, 8192, 4915, -819 (the 16.16 ones
// -3276, 19660, 32768, 19660, -3276 for the portable engine). A flat 1000
// gives 998 in the middle (five floored products -50, 299, 500, 299, -50)
// and 999 at the two outputs next to each edge: there the taps beyond the
// edge make one weight (-819 + 4915 + 8192 = 12288 at x = 0) and one
// product (750), where separate products would lose one more unit (749).
const std::vector<int> kExampleTaps = {-819, 4915, 8192, 4915, -819};
const std::vector<int> kExampleFixed = {-3276, 19660, 32768, 19660, -3276};
const std::vector<int> kRows[3] = {{1000, 1000, 1000, 1000, 1000, 1000},
                                   {-1000, -1000, -1000, -1000, -1000, -1000},
                                   {0, 0, 0, 4000, 4000, 4000}};
const std::vector<int> kMmxOut[3] = {{999, 999, 998, 998, 999, 999},
                                     {-1001, -1001, -1002, -1002, -1001, -1001},
                                     {0, -200, 999, 2999, 4199, 3999}};
const std::vector<int> kScalarOut[3] = {{1000, 1000, 1000, 1000, 1000, 1000},
                                        {-1000, -1000, -1000, -1000, -1000, -1000},
                                        {0, -200, 1000, 3000, 4200, 4000}};

}  // namespace

void lowpass::testing::MmxModelAcross(const PassJob& job) { RunLineModel(job, true, MmxLine); }
void lowpass::testing::MmxModelDown(const PassJob& job) { RunLineModel(job, false, MmxLine); }

TEST_F(MmxExamples, RowsOfSixInBothPassesAndEveryChannel) {
    PassTables t = MmxTables(kExampleTaps);
    for (std::size_t k = 0; k < kExampleFixed.size(); ++k) t.tables.fixedTaps[k] = kExampleFixed[k];
    for (bool across : {true, false}) {
        SCOPED_TRACE(across ? "HorizontalPass" : "VerticalPass");
        // Each example row in every channel at once, and the three rows as y,
        // cb and cr of one line; down as columns, five of them so the second
        // column group holds one pixel.
        for (int layout = 0; layout < 4; ++layout) {
            std::vector<int> lines[3];
            for (int c = 0; c < 3; ++c) lines[c] = kRows[layout < 3 ? layout : c];
            auto src = FrameOfLines(across, lines, across ? 2 : 5);
            auto mmx = RunPass(Pass(across), across, *src, 2, t);
            auto scalar = RunPass(across ? lowpass::HorizontalPassScalar : lowpass::VerticalPassScalar, across, *src,
                                  2, t);
            for (int index = 0; index < (across ? 2 : 5); ++index)
                for (int c = 0; c < 3; ++c) {
                    const int row = layout < 3 ? layout : c;
                    EXPECT_EQ(LineOf(*mmx, across, index, c), kMmxOut[row])
                        << "layout " << layout << " line " << index << " channel " << c;
                    EXPECT_EQ(LineOf(*scalar, across, index, c), kScalarOut[row])
                        << "scalar engine, layout " << layout << " line " << index << " channel " << c;
                }
        }
    }
}

TEST_F(MmxExamples, RectangularKernelConstantRows) {
    // The table the kernel design builds for the rectangular window, X = 320,
    // w = 640, N = 3. A flat 4096 comes back 4095 (the portable engine keeps
    // 4096); a flat 2048 comes back 2045, 2046 at the two outputs next to
    // each edge, whose edge weight is one product.
    PassTables t;
    lowpass::BuildKernelTables(t.tables, 320.0 / 1280.0, 3, lowpass::kRectangularWindow);
    std::vector<int> taps;
    for (int k = 0; k <= 6; ++k) taps.push_back(t.tables.mmxTaps[k][0]);
    ASSERT_EQ(taps, (std::vector<int>{-1220, 0, 3661, 11502, 3661, 0, -1220}));

    for (int value : {4096, 2048}) {
        std::vector<int> lines[3] = {std::vector<int>(640, value), std::vector<int>(640, value),
                                     std::vector<int>(640, value)};
        auto src = FrameOfLines(true, lines, 2);
        auto mmx = RunPass(lowpass::HorizontalPassMmx, true, *src, 3, t);
        auto scalar = RunPass(lowpass::HorizontalPassScalar, true, *src, 3, t);
        for (int c = 0; c < 3; ++c) {
            const std::vector<int> got = LineOf(*mmx, true, 1, c);
            if (value == 4096) {
                EXPECT_EQ(got, std::vector<int>(640, 4095)) << "channel " << c;
                EXPECT_EQ(LineOf(*scalar, true, 1, c), std::vector<int>(640, 4096)) << "scalar keeps 4096";
            } else {
                std::vector<int> want(640, 2045);
                want[0] = want[1] = want[638] = want[639] = 2046;
                EXPECT_EQ(got, want) << "channel " << c;
            }
        }
    }
}

TEST_F(MmxExamples, UnitImpulseCopiesWithinRangeAndWrapsOutside) {
    // 16384 (1.0) at the centre: a sample in -8192 .. 8191 comes back
    // unchanged; outside, 4 * s wraps at 16 bits before the multiply, so
    // 8192 comes back -8192, 10000 as -6384 and -9000 as 7384.
    const PassTables t = MmxTables({0, 0, 16384, 0, 0});
    lowpass::testing::ExpectEverySixteenBitValue(
        lowpass::HorizontalPassMmx, lowpass::VerticalPassMmx, t, 2,
        [](int s) { return s >= -8192 && s <= 8191 ? s : Wrap16(4LL * s) / 4; });
    std::vector<int> lines[3] = {{0, 0, 8192, 0, 0}, {0, 0, 10000, 0, 0}, {0, 0, -9000, 0, 0}};
    auto named = FrameOfLines(true, lines, 1);
    auto out = RunPass(lowpass::HorizontalPassMmx, true, *named, 2, t);
    EXPECT_EQ(out->at(2, 0).y, -8192);
    EXPECT_EQ(out->at(2, 0).cb, -6384);
    EXPECT_EQ(out->at(2, 0).cr, 7384);
}

TEST_F(MmxExamples, Sample8192WrapsBeforeTheMultiply) {
    // 4 * 8192 wraps to -32768: an impulse of 8192 spreads as if it were
    // -8192.
    const PassTables t = MmxTables(kExampleTaps);
    const std::vector<int> want = {409, -2458, -4096, -2458, 409};
    for (bool across : {true, false}) {
        std::vector<int> lines[3] = {{0, 0, 8192, 0, 0}, {0, 0, 8192, 0, 0}, {0, 0, 8192, 0, 0}};
        auto src = FrameOfLines(across, lines, across ? 1 : 3);
        auto dst = RunPass(Pass(across), across, *src, 2, t);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(LineOf(*dst, across, 0, c), want) << across << c;
    }
}

TEST_F(MmxExamples, SumsAndEdgeWeightsWrap) {
    // Five entries of 16384: the middle sum 40000 wraps; the edge weights
    // 49152 and 32768 wrap to -16384 and -32768 before they multiply.
    const PassTables t = MmxTables({16384, 16384, 16384, 16384, 16384});
    const std::vector<int> want = {8000, 8000, -25536, -25536, 8000, 8000};
    for (bool across : {true, false}) {
        std::vector<int> lines[3] = {std::vector<int>(6, 8000), std::vector<int>(6, 8000), std::vector<int>(6, 8000)};
        auto src = FrameOfLines(across, lines, across ? 3 : 4);
        auto dst = RunPass(Pass(across), across, *src, 2, t);
        for (int index = 0; index < (across ? 3 : 4); ++index)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(LineOf(*dst, across, index, c), want) << across << " " << index << " " << c;
    }
}
