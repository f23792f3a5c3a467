// The SSE engine's model and examples worked by hand. The model is its
// arithmetic written out plainly: float32 products and sums in exactly the
// engine's order (0.5 last in every horizontal output and in the vertical
// top rows, first in the vertical middle and bottom rows), the edge weight
// summed in float32 from zero in ascending k, a conversion that rounds ties
// to even, and signed 16-bit saturation. test_engines.cpp compares the
// engine with it on random frames, sizes, strides and tables.
//
// Every float32 operation of the model goes through a volatile float, so
// that a 32-bit build whose floating point runs on the x87 unit (with its
// excess precision) still rounds each step to float32 (this file is also
// built with -ffloat-store there).
//
// The examples run for each engine of the registry with this arithmetic
// (the reference passes and their wider implementations); one the
// processor or system cannot run is skipped and says so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "tests/support/pass_check.h"

using lowpass::KernelTables;
using lowpass::standin::GuardedFrame;
using lowpass::testing::Channel;
using lowpass::testing::FrameOfLine;
using lowpass::testing::FrameOfLines;
using lowpass::testing::LineOf;
using lowpass::testing::PassTables;
using lowpass::testing::RunPass;

namespace {

// One float32 operation each, rounded to float32 whatever the build's
// floating-point unit.
float Mul(float a, float b) {
    volatile float r = a * b;
    return r;
}
float Add(float a, float b) {
    volatile float r = a + b;
    return r;
}

// CVTPS2PI under round-to-nearest-even, then PACKSSDW. A value that is not
// a 32-bit integer after rounding (NaN, infinities, |v| >= 2^31) converts
// to the "integer indefinite" 0x80000000, which saturates to -32768.
int SseConvert(float f) {
    const double d = f;
    if (!(d >= -2147483648.0 && d < 2147483648.0)) return -32768;
    const double low = std::floor(d);
    const double fraction = d - low;  // exact
    double r;
    if (fraction > 0.5)
        r = low + 1.0;
    else if (fraction < 0.5)
        r = low;
    else
        r = std::fmod(low, 2.0) == 0.0 ? low : low + 1.0;
    if (r > 32767.0) return 32767;
    if (r < -32768.0) return -32768;
    return static_cast<int>(r);
}

// One line of L samples with coefficients c[0..2N], in the engine's order
// for a pass across (the rows) or down (the columns).
std::vector<int> SseModelLine(const std::vector<int>& line, const float* c, int n, bool across) {
    const int length = static_cast<int>(line.size());
    std::vector<float> s;
    for (int v : line) s.push_back(static_cast<float>(v));  // exact
    std::vector<int> out(static_cast<std::size_t>(length));
    for (int p = 0; p < length; ++p) {
        const bool atNear = p < n;
        const bool atFar = !atNear && p >= length - n;
        const bool biasFirst = !across && !atNear;  // vertical middle and bottom rows
        float acc = biasFirst ? 0.5f : 0.0f;
        auto edge = [&](int first, int last, float sample) {
            float weight = 0.0f;
            for (int k = first; k <= last; ++k) weight = Add(weight, c[k]);
            acc = Add(acc, Mul(weight, sample));
        };
        if (atNear) {
            // W = c[0] + ... + c[N - p]; W * s[0]; then the taps k = N - p + 1 .. 2N
            edge(0, n - p, s[0]);
            for (int k = n - p + 1; k <= 2 * n; ++k) acc = Add(acc, Mul(c[k], s[static_cast<std::size_t>(p + k - n)]));
        } else if (!atFar) {
            for (int k = 0; k <= 2 * n; ++k) acc = Add(acc, Mul(c[k], s[static_cast<std::size_t>(p + k - n)]));
        } else {
            const int j = p - (length - n);
            for (int k = 0; k <= 2 * n - j - 2; ++k)
                acc = Add(acc, Mul(c[k], s[static_cast<std::size_t>(p + k - n)]));
            edge(2 * n - j - 1, 2 * n, s[static_cast<std::size_t>(length - 1)]);
        }
        if (!biasFirst) acc = Add(acc, 0.5f);
        out[static_cast<std::size_t>(p)] = SseConvert(acc);
    }
    return out;
}

std::vector<int> SseLine(const std::vector<int>& samples, const KernelTables& t, int n, bool across) {
    std::vector<float> taps;
    for (int k = 0; k <= 2 * n; ++k) taps.push_back(t.sseTaps[k][0]);
    return SseModelLine(samples, taps.data(), n, across);
}

PassTables SseTables(const std::vector<float>& taps) {
    PassTables t;
    for (std::size_t k = 0; k < taps.size(); ++k)
        for (int lane = 0; lane < 4; ++lane) t.tables.sseTaps[k][lane] = taps[k];
    return t;
}

struct Implementation {
    const char* name;
    int needs;
    lowpass::Pass across;
    lowpass::Pass down;
};

// Every engine of the registry with the SSE arithmetic.
std::vector<Implementation> SseImplementations() {
    std::vector<Implementation> all;
    for (const lowpass::Engine& engine : lowpass::Engines())
        if (engine.samples == lowpass::Samples::Int16 && engine.arithmetic == lowpass::Arithmetic::Sse)
            all.push_back(
                Implementation{engine.name, engine.needs, engine.unguarded.horizontal, engine.unguarded.vertical});
    return all;
}

void PrintTo(const Implementation& implementation, std::ostream* out) { *out << implementation.name; }

class SseExamples : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " implementation");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }
    lowpass::Pass Pass(bool across) const { return across ? GetParam().across : GetParam().down; }
};

}  // namespace

void lowpass::testing::SseModelAcross(const PassJob& job) { RunLineModel(job, true, SseLine); }
void lowpass::testing::SseModelDown(const PassJob& job) { RunLineModel(job, false, SseLine); }

TEST_P(SseExamples, RampOfFiveAndTheScalarEngine) {
    // N = 2, entries 0.0625, 0.25, 0.375, 0.25, 0.0625; y samples 0, 16, 32,
    // 48, 64 give 6, 18, 32, 48, 58; the portable engine 6, 17, 32, 47, 58.
    // Output 0 is 6.5 before the conversion (a tie, rounded to even).
    PassTables t = SseTables({0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f});
    const std::int32_t fixed[] = {4096, 16384, 24576, 16384, 4096};
    for (int k = 0; k < 5; ++k) t.tables.fixedTaps[k] = fixed[k];
    const std::vector<int> ramp = {0, 16, 32, 48, 64};
    for (bool across : {true, false}) {
        std::vector<int> lines[3] = {ramp, {0, 0, 0, 0, 0}, {-7, -7, -7, -7, -7}};
        auto src = FrameOfLines(across, lines, across ? 1 : 3);
        auto sse = RunPass(Pass(across), across, *src, 2, t);
        auto scalar = RunPass(across ? lowpass::HorizontalPassScalar : lowpass::VerticalPassScalar, across, *src, 2, t);
        for (int index = 0; index < (across ? 1 : 3); ++index) {
            EXPECT_EQ(LineOf(*sse, across, index, 0), (std::vector<int>{6, 18, 32, 48, 58})) << across;
            EXPECT_EQ(LineOf(*scalar, across, index, 0), (std::vector<int>{6, 17, 32, 47, 58})) << across;
        }
    }
}

TEST_P(SseExamples, UniformRows) {
    // N = 1, entries 0.25, 0.5, 0.25: 101 gives 102, 100 stays 100, -3
    // becomes -2, -4 stays -4.
    const PassTables t = SseTables({0.25f, 0.5f, 0.25f});
    const int values[4][2] = {{101, 102}, {100, 100}, {-3, -2}, {-4, -4}};
    for (bool across : {true, false})
        for (const auto& v : values) {
            auto src = FrameOfLine(across, std::vector<int>(9, v[0]), across ? 2 : 5);
            auto dst = RunPass(Pass(across), across, *src, 1, t);
            for (int index = 0; index < (across ? 2 : 5); ++index)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(LineOf(*dst, across, index, c), std::vector<int>(9, v[1]))
                        << across << " uniform " << v[0];
        }
}

TEST_P(SseExamples, UnitImpulseRaisesOddSamples) {
    // 1.0 at the centre: even samples stay, odd ones rise by one (s + 0.5 is
    // a tie, rounded to even), 32767 stays by saturation, -32767 becomes
    // -32766. Every 16-bit value.
    lowpass::testing::ExpectEverySixteenBitValue(Pass(true), Pass(false),
                                                 SseTables({0.0f, 1.0f, 0.0f}), 1,
                                                 [](int s) { return s % 2 == 0 || s == 32767 ? s : s + 1; });
}

TEST_P(SseExamples, ColumnOfThree) {
    // N = 1, entries 0.25, 0.5, 0.25; w = 1, h = 3, y = 1, 2, 4: results 2,
    // 3, 4 (top 1.25 + 0.5 = 1.75; middle 0.5 first, 2.75; bottom 4). The
    // row's single group has three lanes that carry samples.
    const PassTables t = SseTables({0.25f, 0.5f, 0.25f});
    GuardedFrame src(1, 3, 1, 3, 6);
    src.at(0, 0) = PIXEL_YC{1, 1, 1};
    src.at(0, 1) = PIXEL_YC{2, 2, 2};
    src.at(0, 2) = PIXEL_YC{4, 4, 4};
    auto dst = RunPass(Pass(false), false, src, 1, t);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(LineOf(*dst, false, 0, c), (std::vector<int>{2, 3, 4})) << c;
}

TEST_P(SseExamples, Saturation) {
    // N = 1, entries -0.125, 1.25, -0.125: 0, 30000, 0 gives -3750, 32767,
    // -3750; 0, -30000, 0 gives 3750, -32768, 3750.
    const PassTables t = SseTables({-0.125f, 1.25f, -0.125f});
    for (bool across : {true, false}) {
        std::vector<int> lines[3] = {{0, 30000, 0}, {0, -30000, 0}, {0, 30000, 0}};
        auto src = FrameOfLines(across, lines, across ? 1 : 2);
        auto dst = RunPass(Pass(across), across, *src, 1, t);
        for (int index = 0; index < (across ? 1 : 2); ++index) {
            EXPECT_EQ(LineOf(*dst, across, index, 0), (std::vector<int>{-3750, 32767, -3750})) << across;
            EXPECT_EQ(LineOf(*dst, across, index, 1), (std::vector<int>{3750, -32768, 3750})) << across;
        }
    }
}

TEST_P(SseExamples, NOneEdgeWeights) {
    // With N = 1 the left and right runs are one output each, with edge
    // weights c[0] + c[1] and c[1] + c[2]; an asymmetric table tells them
    // apart.
    const PassTables t = SseTables({0.125f, 0.25f, 0.5f});
    for (bool across : {true, false}) {
        auto src = FrameOfLine(across, {8, 16, 40, 64}, 1);
        auto dst = RunPass(Pass(across), across, *src, 1, t);
        // x = 0: (0.125 + 0.25) * 8 + 0.5 * 16 = 11, + 0.5 -> 11.5 -> 12
        // x = 3: 0.125 * 40 + (0.25 + 0.5) * 64 = 53, + 0.5 -> 53.5 -> 54
        EXPECT_EQ(LineOf(*dst, across, 0, 0)[0], 12);
        EXPECT_EQ(LineOf(*dst, across, 0, 0)[3], 54);
    }
}

TEST_P(SseExamples, BiasPositionMattersInEveryRunOrder) {
    // A middle output built so that 0.5 first and 0.5 last round apart:
    // taps 1024, -1024, 1/32 on samples 16384, 16384, 96. With 0.5 first
    // (vertical middle rows), 0.5 + 2^24 rounds to 2^24 (ties to even) and
    // is lost: 0 + 3 = 3. With 0.5 last (horizontal runs), 2^24 - 2^24 + 3
    // + 0.5 = 3.5, a tie, rounds to 4.
    {
        const PassTables t = SseTables({1024.0f, -1024.0f, 1.0f / 32.0f});
        const std::vector<int> line = {16384, 16384, 96};
        for (bool across : {true, false}) {
            auto src = FrameOfLine(across, line, across ? 1 : 3);
            auto dst = RunPass(Pass(across), across, *src, 1, t);
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(LineOf(*dst, across, 0, c)[1], across ? 4 : 3) << (across ? "across" : "down");
        }
    }
    // Every run at once: taps 1024, 0.09375, -16777213/16384 on samples
    // 16383, 16383, 16384. Across, 0.5 last everywhere: 1540, 516, 516 (0.5
    // first would give 1539, 515, 515). Down, 0.5 last in the top row and
    // first in the middle and bottom rows: 1540, 515, 515 (the other way
    // round would give 1539, 516, 516).
    {
        const PassTables t = SseTables({1024.0f, 0.09375f, -16777213.0f / 16384.0f});
        const std::vector<int> line = {16383, 16383, 16384};
        const std::vector<int> kWantAcross = {1540, 516, 516}, kWantDown = {1540, 515, 515};
        for (bool across : {true, false}) {
            auto src = FrameOfLine(across, line, across ? 2 : 4);
            auto dst = RunPass(Pass(across), across, *src, 1, t);
            for (int index = 0; index < (across ? 2 : 4); ++index)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(LineOf(*dst, across, index, c), across ? kWantAcross : kWantDown)
                        << (across ? "across" : "down") << " line " << index << " channel " << c;
        }
    }
    // Down, middle rows an implementation may compute two at a time: each
    // keeps 0.5 first. In y the upper row of the pair (1, 2) cancels, in cb
    // the lower one: 3 each (0.5 last would give 4).
    {
        const PassTables t = SseTables({1024.0f, -1024.0f, 1.0f / 32.0f});
        const std::vector<int> lines[3] = {
            {16384, 16384, 96, 16384, 0}, {0, 16384, 16384, 96, 0}, {16384, 16384, 96, 16384, 0}};
        auto src = FrameOfLines(false, lines, 2);
        auto dst = RunPass(Pass(false), false, *src, 1, t);
        for (int index = 0; index < 2; ++index) {
            EXPECT_EQ(LineOf(*dst, false, index, 0)[1], 3) << "column " << index << ", the pair's upper row";
            EXPECT_EQ(LineOf(*dst, false, index, 1)[2], 3) << "column " << index << ", the pair's lower row";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Implementations, SseExamples, ::testing::ValuesIn(SseImplementations()),
                         [](const ::testing::TestParamInfo<Implementation>& param) { return param.param.name; });
