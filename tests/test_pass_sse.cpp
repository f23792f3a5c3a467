// The SSE engine, in each of its implementations (the reference passes,
// SSE2, AVX2), against a plain, per-sample model of its own arithmetic: float32 products and sums in exactly the engine's order
// (0.5 last in every horizontal run and in the vertical top rows,
// first in the vertical middle and bottom rows), the edge weight summed in
// float32 from zero in ascending k, a conversion that rounds ties to even,
// and signed 16-bit saturation. Then the engine's worked examples, the
// SSE frame pass driver, and the slack and guard pages around every buffer.
//
// Every float32 operation of the model goes through a volatile float, so
// that a 32-bit build whose floating point runs on the x87 unit (with its
// excess precision) still rounds each step to float32 (this file is also
// built with -ffloat-store there).
//
// On a processor without usable SSE every test here is skipped and says so;
// so is each implementation the processor or system cannot run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "tests/support/engine_procs.h"
#include "simd/engines.h"
#include "simd/pass_sse.h"
#include "simd/pass_sse_wide.h"
#include "tests/support/driver_check.h"
#include "tests/support/pass_check.h"
#include "tools/standin_host/stand_in_host.h"

using lowpass::kernelCache;
using lowpass::KernelTables;
using lowpass::testing::BufferKindName;
using lowpass::testing::CaseShape;
using lowpass::testing::Channel;
using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::Lcg;
using lowpass::testing::PictureCopy;
using lowpass::testing::SetChannel;
using lowpass::standin::StandInHost;
using lowpass::testing::TestBuffer;

namespace {

// ---------------------------------------------------------------------------
// The model.

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

// How the model computes; the defaults are the engine's rules, the others
// plausible mistakes used only to show that the random cases catch them.
enum class BiasRule { AsTables, AlwaysLast, AlwaysFirst };
enum class Conversion { TiesToEven, HalfUp, Truncate };
struct SseRules {
    BiasRule bias = BiasRule::AsTables;
    bool foldEdges = true;
    Conversion conversion = Conversion::TiesToEven;
    bool saturate = true;  // false: keep the low 16 bits of the 32-bit integer
};

// CVTPS2PI under round-to-nearest-even, then PACKSSDW. A value that is not
// a 32-bit integer after rounding (NaN, infinities, |v| >= 2^31) converts
// to the "integer indefinite" 0x80000000, which saturates to -32768.
int SseConvert(float f, const SseRules& rules = {}) {
    const double d = f;
    if (!(d >= -2147483648.0 && d < 2147483648.0)) return -32768;
    const double low = std::floor(d);
    const double fraction = d - low;  // exact
    double r;
    if (rules.conversion == Conversion::Truncate)
        r = std::trunc(d);
    else if (fraction > 0.5)
        r = low + 1.0;
    else if (fraction < 0.5)
        r = low;
    else if (rules.conversion == Conversion::HalfUp)
        r = low + 1.0;
    else
        r = std::fmod(low, 2.0) == 0.0 ? low : low + 1.0;
    if (!rules.saturate) {
        const auto wide = static_cast<long long>(r);
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(wide) & 0xffffu));
    }
    if (r > 32767.0) return 32767;
    if (r < -32768.0) return -32768;
    return static_cast<int>(r);
}

// One line of L samples with coefficients c[0..2N], in the engine's order
// for the horizontal pass (horizontal = true) or the vertical
// pass. Returns the 16-bit results.
std::vector<int> SseModelLine(const std::vector<int>& line, const float* c, int n, bool horizontal,
                              const SseRules& rules = {}) {
    const int length = static_cast<int>(line.size());
    std::vector<float> s;
    for (int v : line) s.push_back(static_cast<float>(v));  // exact
    std::vector<int> out(static_cast<std::size_t>(length));
    for (int p = 0; p < length; ++p) {
        const bool atNear = p < n;
        const bool atFar = !atNear && p >= length - n;
        bool biasFirst = !horizontal && !atNear;  // vertical middle and bottom rows
        if (rules.bias == BiasRule::AlwaysLast) biasFirst = false;
        if (rules.bias == BiasRule::AlwaysFirst) biasFirst = true;
        float acc = biasFirst ? 0.5f : 0.0f;
        auto edge = [&](int first, int last, float sample) {
            if (rules.foldEdges) {
                float weight = 0.0f;
                for (int k = first; k <= last; ++k) weight = Add(weight, c[k]);
                acc = Add(acc, Mul(weight, sample));
            } else {
                for (int k = first; k <= last; ++k) acc = Add(acc, Mul(c[k], sample));
            }
        };
        if (atNear) {
            // W = c[0] + ... + c[N - p]; acc = W * s[0]; then the taps k = N - p + 1 .. 2N
            if (!biasFirst && rules.foldEdges) {
                float weight = 0.0f;
                for (int k = 0; k <= n - p; ++k) weight = Add(weight, c[k]);
                acc = Mul(weight, s[0]);
            } else {
                edge(0, n - p, s[0]);
            }
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
        out[static_cast<std::size_t>(p)] = SseConvert(acc, rules);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Tables, passes and frames.

void SetSseTaps(KernelTables& t, const std::vector<float>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k)
        for (int lane = 0; lane < 4; ++lane) t.sseTaps[k][lane] = taps[k];
}

void SetFixedTaps(KernelTables& t, const std::vector<int>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k) t.fixedTaps[k] = taps[k];
}

std::vector<float> SseTapsOf(const KernelTables& t, int n) {
    std::vector<float> taps;
    for (int k = 0; k <= 2 * n; ++k) taps.push_back(t.sseTaps[k][0]);
    return taps;
}

void SetBias() {
    for (float& b : kernelCache.roundingBias) b = 0.5f;
}

using lowpass::testing::VectorPass;
using lowpass::testing::FrameOfLine;
using lowpass::testing::FrameOfLines;
using lowpass::testing::LineOf;
using lowpass::testing::ScalarInto;

// The implementations of the engine's arithmetic: the engine of the table
// of that name and its passes over a whole picture.
struct Implementation {
    const char* name;
    VectorPass horizontal;
    VectorPass vertical;
};

const Implementation kImplementations[] = {
    {"sse", lowpass::testing::WholePicture<lowpass::HorizontalPassSse, true>,
     lowpass::testing::WholePicture<lowpass::VerticalPassSse, false>},
    {"sse2", lowpass::testing::WholePicture<lowpass::HorizontalPassSse2, true>,
     lowpass::testing::WholePicture<lowpass::VerticalPassSse2, false>},
    {"avx2", lowpass::testing::WholePicture<lowpass::HorizontalPassAvx2, true>,
     lowpass::testing::WholePicture<lowpass::VerticalPassAvx2, false>},
};

void PrintTo(const Implementation& implementation, std::ostream* out) { *out << implementation.name; }

// The implementation the running test checks (set by the fixture).
const Implementation* current = &kImplementations[0];

VectorPass SsePass(bool horizontal) { return horizontal ? current->horizontal : current->vertical; }

// One SSE pass, then EMMS: the model's float arithmetic may run on the x87.
void RunSse(bool horizontal, const PIXEL_YC* src, PIXEL_YC* dst, int w, int h, int maxW, int n) {
    SsePass(horizontal)(src, dst, w, h, maxW, n);
    lowpass::ClearMmxState();
}

std::unique_ptr<GuardedFrame> PassInto(bool horizontal, const GuardedFrame& src, int n) {
    return lowpass::testing::PassInto(SsePass(horizontal), src, n);
}

std::string Join(const std::vector<float>& v) {
    std::string s;
    char item[40];
    for (float x : v) {
        std::snprintf(item, sizeof item, "%s%.9g", s.empty() ? "" : ", ", static_cast<double>(x));
        s += item;
    }
    return s;
}

class SseEngine : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        savedCache_ = kernelCache;
        savedWeights_ = lowpass::windowWeights;
        savedCaps_ = lowpass::cpuCaps;
        current = &GetParam();
        if (!lowpass::testing::ProcessorHasSse())
            GTEST_SKIP() << "this processor or system has no usable SSE (CpuCaps "
                         << lowpass::testing::ProcessorCaps() << "): the SSE engine is not run";
        if (!lowpass::CanRun(*lowpass::FindEngine(GetParam().name),
                             lowpass::testing::ProcessorCaps() | lowpass::ProbeSseImplementations()))
            GTEST_SKIP() << "this processor or system cannot run the " << GetParam().name << " implementation";
        lowpass::cpuCaps = lowpass::testing::ProcessorCaps();
        SetBias();
    }
    void TearDown() override {
        kernelCache = savedCache_;
        lowpass::windowWeights = savedWeights_;
        lowpass::cpuCaps = savedCaps_;
    }

private:
    lowpass::KernelCache savedCache_{};
    lowpass::WindowWeights savedWeights_{};
    int savedCaps_ = 0;
};

// ---------------------------------------------------------------------------
// Random cases.

float RandomUnit(Lcg& rng) { return static_cast<float>(rng.Next() >> 8) / 16777216.0f; }  // [0, 1), 24 bits

// A random table: the kernel design's own; uniform fractions; dyadic
// fractions (exact sums, many exact ties before the conversion); wild
// magnitudes that saturate and cancel; huge ones that overflow to infinity;
// tiny ones that are subnormal.
void RandomSseTable(Lcg& rng, bool horizontal, int n, int lineLength, std::string* kind) {
    KernelTables& t = horizontal ? kernelCache.horizontal : kernelCache.vertical;
    const int pick = rng.Range(0, 39);
    if (pick < 8) {
        static const lowpass::WindowWeights windows[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                                         lowpass::kHammingWindow, lowpass::kBlackmanWindow};
        lowpass::windowWeights = windows[rng.Range(0, 3)];
        StandInHost host;
        host.SetTrack(rng.Range(1, lineLength), rng.Range(1, lineLength), n);
        FILTER_PROC_INFO info{};
        info.w = lineLength;
        info.h = lineLength;
        lowpass::testing::RebuildFor(host, info.w, info.h);
        *kind = "kernel design";
        return;
    }
    std::vector<float> taps(static_cast<std::size_t>(2 * n + 1));
    for (float& tap : taps) {
        if (pick < 17) {
            tap = RandomUnit(rng) - 0.25f;
        } else if (pick < 28) {
            tap = static_cast<float>(rng.Range(-32, 96)) / 128.0f;
        } else if (pick < 36) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-24, 12));
            tap = rng.Range(0, 1) ? magnitude : -magnitude;
        } else if (pick < 38) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(100, 127));
            tap = rng.Range(0, 2) == 0 ? -magnitude : (rng.Range(0, 1) ? magnitude : RandomUnit(rng));
        } else {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-149, -120));
            tap = rng.Range(0, 2) == 0 ? RandomUnit(rng) : (rng.Range(0, 1) ? magnitude : -magnitude);
        }
    }
    SetSseTaps(t, taps);
    *kind = pick < 17 ? "uniform random" : (pick < 28 ? "dyadic" : (pick < 36 ? "wild magnitudes" : (pick < 38 ? "huge" : "subnormal")));
}

struct RandomTotals {
    int cases = 0;
    long long samples = 0;
    int tight = 0;
    int caught[6] = {0, 0, 0, 0, 0, 0};
};

void RunRandomCases(bool horizontal, int cases, std::uint32_t seed, RandomTotals& totals) {
    Lcg rng(seed);
    for (int i = 0; i < cases; ++i) {
        const int n = 1 + i % 15;
        const CaseShape shape = lowpass::testing::RandomShape(rng, n, horizontal);
        std::string tableKind;
        RandomSseTable(rng, horizontal, n, horizontal ? shape.w : shape.h, &tableKind);
        const std::vector<float> taps = SseTapsOf(horizontal ? kernelCache.horizontal : kernelCache.vertical, n);

        TestBuffer src(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 13);
        TestBuffer dst(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 14);
        lowpass::testing::FillRandom(src, shape, rng);
        const PictureCopy input = lowpass::testing::CopyPicture(src, shape.w, shape.h);

        RunSse(horizontal, src.data(), dst.data(), shape.w, shape.h, shape.maxW, n);

        ++totals.cases;
        if (shape.kind != lowpass::testing::BufferKind::Guarded) ++totals.tight;
        const int lines = horizontal ? shape.h : shape.w;
        bool differs[6] = {false, false, false, false, false, false};
        for (int line = 0; line < lines; ++line)
            for (int c = 0; c < 3; ++c) {
                const std::vector<int> s = input.Line(horizontal, line, c);
                const std::vector<int> want = SseModelLine(s, taps.data(), n, horizontal);
                for (int p = 0; p < static_cast<int>(s.size()); ++p) {
                    const int x = horizontal ? p : line;
                    const int y = horizontal ? line : p;
                    const int got = Channel(dst.at(x, y), c);
                    if (got != want[static_cast<std::size_t>(p)]) {
                        FAIL() << current->name << " " << (horizontal ? "HorizontalPass" : "VerticalPass") << " random case " << i
                               << ": first differing sample at (x=" << x << ", y=" << y << ", channel " << c
                               << "): engine " << got << ", model " << want[static_cast<std::size_t>(p)]
                               << "\n  w=" << shape.w << " h=" << shape.h << " max_w=" << shape.maxW << " N=" << n
                               << ", " << BufferKindName(shape.kind) << " frames, " << tableKind << " table"
                               << "\n  sseTaps: " << Join(taps) << "\n  "
                               << lowpass::testing::DescribeLine(s, p, n);
                    }
                }
                totals.samples += static_cast<long long>(s.size());
                if (i % 4 == 0) {
                    SseRules mistakes[6];
                    mistakes[0].bias = BiasRule::AlwaysLast;
                    mistakes[1].bias = BiasRule::AlwaysFirst;
                    mistakes[2].foldEdges = false;
                    mistakes[3].conversion = Conversion::HalfUp;
                    mistakes[4].conversion = Conversion::Truncate;
                    mistakes[5].saturate = false;
                    for (int m = 0; m < 6; ++m)
                        if (!differs[m] && SseModelLine(s, taps.data(), n, horizontal, mistakes[m]) != want)
                            differs[m] = true;
                }
            }
        for (int m = 0; m < 6; ++m) totals.caught[m] += differs[m] ? 1 : 0;

        std::string where;
        ASSERT_TRUE(dst.SentinelsIntact(&where)) << "random case " << i << ", destination: " << where;
        ASSERT_TRUE(src.SentinelsIntact(&where)) << "random case " << i << ", source: " << where;
        ASSERT_TRUE(lowpass::testing::CopyPicture(src, shape.w, shape.h).samples == input.samples)
            << "random case " << i << ": the pass changed its source";
    }
}

void ReportRandom(const char* what, bool horizontal, const RandomTotals& totals) {
    std::printf("[ %s %s ] %d random cases (%d with tight frames), %lld samples, 0 mismatches; mistaken rules "
                "caught in (of every fourth case): 0.5 always last %d, 0.5 always first %d, separate edge products "
                "%d, halves rounded up %d, truncation %d, wrap instead of saturation %d\n",
                current->name, what, totals.cases, totals.tight, totals.samples, totals.caught[0], totals.caught[1],
                totals.caught[2], totals.caught[3], totals.caught[4], totals.caught[5]);
    ::testing::Test::RecordProperty("random_cases", totals.cases);
    ::testing::Test::RecordProperty("random_samples", std::to_string(totals.samples));
    // (Only asserted on a full run; a reduced run under emulation only reports.)
    if (totals.cases < 1000) return;
    // (Random data rarely builds the cancellation that moves a result when
    // 0.5 moves; BiasPositionMattersInEveryRunOrder covers that.)
    (void)horizontal;
    for (int m = 2; m < 6; ++m) EXPECT_GT(totals.caught[m], 0) << "mistaken rule " << m << " never caught";
}

}  // namespace

TEST_P(SseEngine, HorizontalPassMatchesModelOnRandomFrames) {
    RandomTotals totals;
    RunRandomCases(true, lowpass::testing::RandomCaseCount(1500), 3301, totals);
    if (HasFatalFailure()) return;
    ReportRandom("HorizontalPass", true, totals);
}

TEST_P(SseEngine, VerticalPassMatchesModelOnRandomFrames) {
    RandomTotals totals;
    RunRandomCases(false, lowpass::testing::RandomCaseCount(1500), 3302, totals);
    if (HasFatalFailure()) return;
    ReportRandom("VerticalPass", false, totals);
}

TEST_P(SseEngine, EveryKernelSizeAtSmallestAndAwkwardSizes) {
    // Every N at 2N + 1 (with N = 15: w = 31, the middle run is x = 15
    // alone) and a few lengths above; widths 1 .. 11 and 853 for the
    // vertical pass's sample groups; three kinds of frame.
    Lcg rng(98);
    int cases = 0;
    for (int n = 1; n <= 15; ++n)
        for (bool horizontal : {true, false})
            for (int extra : {0, 1, 2, 5, 14})
                for (auto kind : {lowpass::testing::BufferKind::Guarded, lowpass::testing::BufferKind::TightEnd,
                                  lowpass::testing::BufferKind::TightStart}) {
                    const int length = 2 * n + 1 + extra;
                    const int across = horizontal ? 2 : 1 + (n + extra) % 11;
                    const int w = horizontal ? length : across;
                    const int h = horizontal ? across : length;
                    const int maxW = kind == lowpass::testing::BufferKind::Guarded ? w + 1 : w + 3;
                    std::vector<float> taps;
                    for (int k = 0; k <= 2 * n; ++k) taps.push_back(static_cast<float>(rng.Range(-40, 100)) / 256.0f);
                    SetSseTaps(horizontal ? kernelCache.horizontal : kernelCache.vertical, taps);
                    TestBuffer src(kind, w, h, maxW, h, 3), dst(kind, w, h, maxW, h, 4);
                    const CaseShape shape{w, h, maxW, h, kind};
                    lowpass::testing::FillRandom(src, shape, rng);
                    const PictureCopy input = lowpass::testing::CopyPicture(src, w, h);
                    RunSse(horizontal, src.data(), dst.data(), w, h, maxW, n);
                    ++cases;
                    for (int line = 0; line < (horizontal ? h : w); ++line)
                        for (int c = 0; c < 3; ++c) {
                            const std::vector<int> s = input.Line(horizontal, line, c);
                            const std::vector<int> want = SseModelLine(s, taps.data(), n, horizontal);
                            for (int p = 0; p < length; ++p) {
                                const int x = horizontal ? p : line, y = horizontal ? line : p;
                                ASSERT_EQ(Channel(dst.at(x, y), c), want[static_cast<std::size_t>(p)])
                                    << (horizontal ? "horizontal" : "vertical") << " (x=" << x << ", y=" << y
                                    << ", channel " << c << ") w=" << w << " h=" << h << " max_w=" << maxW
                                    << " N=" << n << " " << BufferKindName(kind) << "\n  sseTaps: " << Join(taps)
                                    << "\n  " << lowpass::testing::DescribeLine(s, p, n);
                            }
                        }
                    std::string where;
                    ASSERT_TRUE(dst.SentinelsIntact(&where)) << where;
                    ASSERT_TRUE(src.SentinelsIntact(&where)) << where;
                }
    std::printf("[ %s sizes ] %d cases: every N at 2N+1 and a few lengths above, three kinds of frame\n", current->name,
                cases);
}

// --- Worked examples of the SSE engine, verbatim. --------------------------

TEST_P(SseEngine, WorkedExampleRampOfFiveAndTheScalarEngine) {
    // N = 2, entries 0.0625, 0.25, 0.375, 0.25, 0.0625; y samples 0, 16, 32,
    // 48, 64 give 6, 18, 32, 48, 58; the portable engine 6, 17, 32, 47, 58.
    const std::vector<float> taps = {0.0625f, 0.25f, 0.375f, 0.25f, 0.0625f};
    SetSseTaps(kernelCache.horizontal, taps);
    SetSseTaps(kernelCache.vertical, taps);
    SetFixedTaps(kernelCache.horizontal, {4096, 16384, 24576, 16384, 4096});
    SetFixedTaps(kernelCache.vertical, {4096, 16384, 24576, 16384, 4096});
    const std::vector<int> ramp = {0, 16, 32, 48, 64};
    EXPECT_EQ(SseModelLine(ramp, taps.data(), 2, true), (std::vector<int>{6, 18, 32, 48, 58}));
    // Output 0 is 6.5 before the conversion (a tie, rounded to even).
    for (bool horizontal : {true, false}) {
        std::vector<int> lines[3] = {ramp, {0, 0, 0, 0, 0}, {-7, -7, -7, -7, -7}};
        auto src = FrameOfLines(horizontal, lines, horizontal ? 1 : 3);
        auto sse = PassInto(horizontal, *src, 2);
        auto scalar = ScalarInto(horizontal, *src, 2);
        for (int index = 0; index < (horizontal ? 1 : 3); ++index) {
            EXPECT_EQ(LineOf(*sse, horizontal, index, 0), (std::vector<int>{6, 18, 32, 48, 58})) << horizontal;
            EXPECT_EQ(LineOf(*scalar, horizontal, index, 0), (std::vector<int>{6, 17, 32, 47, 58})) << horizontal;
        }
    }
}

TEST_P(SseEngine, WorkedExampleUniformRows) {
    // N = 1, entries 0.25, 0.5, 0.25: 101 gives 102, 100 stays 100, -3
    // becomes -2, -4 stays -4.
    const std::vector<float> taps = {0.25f, 0.5f, 0.25f};
    SetSseTaps(kernelCache.horizontal, taps);
    SetSseTaps(kernelCache.vertical, taps);
    const int values[4][2] = {{101, 102}, {100, 100}, {-3, -2}, {-4, -4}};
    for (bool horizontal : {true, false})
        for (const auto& v : values) {
            auto src = FrameOfLine(horizontal, std::vector<int>(9, v[0]), horizontal ? 2 : 5);
            auto dst = PassInto(horizontal, *src, 1);
            for (int index = 0; index < (horizontal ? 2 : 5); ++index)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(LineOf(*dst, horizontal, index, c), std::vector<int>(9, v[1]))
                        << horizontal << " uniform " << v[0];
        }
}

TEST_P(SseEngine, WorkedExampleUnitImpulseRaisesOddSamples) {
    // 1.0 at the centre: even samples stay, odd ones rise by one, 32767
    // stays by saturation, -32767 becomes -32766. Every 16-bit value.
    SetSseTaps(kernelCache.horizontal, {0.0f, 1.0f, 0.0f});
    SetSseTaps(kernelCache.vertical, {0.0f, 1.0f, 0.0f});
    GuardedFrame src(256, 256, 259, 257, 8);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = y * 256 + x - 32768;
            src.at(x, y) = PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(-1 - v),
                                    static_cast<std::int16_t>(v ^ 0x2aaa)};
        }
    for (bool horizontal : {true, false}) {
        auto dst = PassInto(horizontal, src, 1);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int s = Channel(src.at(x, y), c);
                    const int want = (s % 2 == 0 || s == 32767) ? s : s + 1;
                    ASSERT_EQ(Channel(dst->at(x, y), c), want)
                        << (horizontal ? "horizontal" : "vertical") << " sample " << s;
                }
    }
    // The same through the kernel design's own unit impulse: N = 1, Hanning.
    lowpass::windowWeights = lowpass::kHanningWindow;
    StandInHost host;
    host.SetTrack(320, 240, 1);
    FILTER_PROC_INFO info{};
    info.w = 640;
    info.h = 480;
    lowpass::testing::RebuildFor(host, info.w, info.h);
    EXPECT_EQ(SseTapsOf(kernelCache.horizontal, 1), (std::vector<float>{0.0f, 1.0f, 0.0f}));
    auto named = FrameOfLine(true, {32767, -32767, 5, 6}, 1);
    auto out = PassInto(true, *named, 1);
    EXPECT_EQ(LineOf(*out, true, 0, 0), (std::vector<int>{32767, -32766, 6, 6}));
}

TEST_P(SseEngine, WorkedExampleColumnOfThree) {
    // N = 1, entries 0.25, 0.5, 0.25; w = 1, h = 3, y = 1, 2, 4: results 2,
    // 3, 4 (top 1.25 + 0.5 = 1.75; middle 0.5 first, 2.75; bottom 4). The
    // row's single group has three lanes that carry samples.
    SetSseTaps(kernelCache.vertical, {0.25f, 0.5f, 0.25f});
    GuardedFrame src(1, 3, 1, 3, 6);
    src.at(0, 0) = PIXEL_YC{1, 1, 1};
    src.at(0, 1) = PIXEL_YC{2, 2, 2};
    src.at(0, 2) = PIXEL_YC{4, 4, 4};
    auto dst = PassInto(false, src, 1);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(LineOf(*dst, false, 0, c), (std::vector<int>{2, 3, 4})) << c;
    const float taps[3] = {0.25f, 0.5f, 0.25f};
    EXPECT_EQ(SseModelLine({1, 2, 4}, taps, 1, false), (std::vector<int>{2, 3, 4}));
    // The same column in a tight frame: its last sample is the last byte.
    lowpass::testing::TightFrame tightSrc(1, 3, 1, lowpass::testing::TightFrame::Anchor::End, 1);
    lowpass::testing::TightFrame tightDst(1, 3, 1, lowpass::testing::TightFrame::Anchor::End, 2);
    for (int y = 0; y < 3; ++y) tightSrc.at(0, y) = src.at(0, y);
    RunSse(false, tightSrc.data(), tightDst.data(), 1, 3, 1, 1);
    for (int y = 0; y < 3; ++y) EXPECT_EQ(tightDst.at(0, y).cr, (std::vector<int>{2, 3, 4})[static_cast<std::size_t>(y)]);
}

TEST_P(SseEngine, WorkedExampleSaturation) {
    // N = 1, entries -0.125, 1.25, -0.125: 0, 30000, 0 gives -3750, 32767,
    // -3750; 0, -30000, 0 gives 3750, -32768, 3750.
    SetSseTaps(kernelCache.horizontal, {-0.125f, 1.25f, -0.125f});
    SetSseTaps(kernelCache.vertical, {-0.125f, 1.25f, -0.125f});
    for (bool horizontal : {true, false}) {
        std::vector<int> lines[3] = {{0, 30000, 0}, {0, -30000, 0}, {0, 30000, 0}};
        auto src = FrameOfLines(horizontal, lines, horizontal ? 1 : 2);
        auto dst = PassInto(horizontal, *src, 1);
        for (int index = 0; index < (horizontal ? 1 : 2); ++index) {
            EXPECT_EQ(LineOf(*dst, horizontal, index, 0), (std::vector<int>{-3750, 32767, -3750})) << horizontal;
            EXPECT_EQ(LineOf(*dst, horizontal, index, 1), (std::vector<int>{3750, -32768, 3750})) << horizontal;
        }
    }
}

TEST_P(SseEngine, WorkedExampleGroupsPerRow) {
    // w = 1: one group; w = 3: 9 samples in 2 groups, the second holding
    // only the cr of pixel 2; w = 8: exactly 3 groups; w = 853: 2559
    // samples in 320 groups. Each against the model, with slack after every
    // row and frames that end at their allocation's end.
    Lcg rng(77);
    for (int w : {1, 2, 3, 4, 5, 7, 8, 9, 11, 853}) {
        const int groups = (3 * w + 7) >> 3;
        if (w == 1) {
            EXPECT_EQ(groups, 1);
        }
        if (w == 3) {
            EXPECT_EQ(groups, 2);
        }
        if (w == 8) {
            EXPECT_EQ(groups, 3);
        }
        if (w == 853) {
            EXPECT_EQ(groups, 320);
        }
        for (auto kind : {lowpass::testing::BufferKind::Guarded, lowpass::testing::BufferKind::TightEnd}) {
            const int n = 1 + w % 4;
            const int h = 2 * n + 1 + (w % 3);
            const int maxW = kind == lowpass::testing::BufferKind::Guarded ? w + 5 : w + 2;
            std::vector<float> taps;
            for (int k = 0; k <= 2 * n; ++k) taps.push_back(RandomUnit(rng) - 0.25f);
            SetSseTaps(kernelCache.vertical, taps);
            TestBuffer src(kind, w, h, maxW, h + 1, 31), dst(kind, w, h, maxW, h + 1, 32);
            const CaseShape shape{w, h, maxW, h + 1, kind};
            lowpass::testing::FillRandom(src, shape, rng);
            const PictureCopy input = lowpass::testing::CopyPicture(src, w, h);
            RunSse(false, src.data(), dst.data(), w, h, maxW, n);
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const std::vector<int> want = SseModelLine(input.Line(false, x, c), taps.data(), n, false);
                    for (int y = 0; y < h; ++y)
                        ASSERT_EQ(Channel(dst.at(x, y), c), want[static_cast<std::size_t>(y)])
                            << "w=" << w << " (x=" << x << ", y=" << y << ", channel " << c << ") "
                            << BufferKindName(kind);
                }
            std::string where;
            EXPECT_TRUE(dst.SentinelsIntact(&where)) << "w=" << w << ": " << where;
            EXPECT_TRUE(src.SentinelsIntact(&where)) << "w=" << w << ": " << where;
        }
    }
}

TEST_P(SseEngine, WorkedExampleNOneEdgeWeights) {
    // With N = 1 the left and right runs are one output each, with edge
    // weights c[0] + c[1] and c[1] + c[2]; an asymmetric table tells them
    // apart.
    const std::vector<float> taps = {0.125f, 0.25f, 0.5f};
    SetSseTaps(kernelCache.horizontal, taps);
    SetSseTaps(kernelCache.vertical, taps);
    for (bool horizontal : {true, false}) {
        auto src = FrameOfLine(horizontal, {8, 16, 40, 64}, 1);
        auto dst = PassInto(horizontal, *src, 1);
        // x = 0: (0.125 + 0.25) * 8 + 0.5 * 16 = 11, + 0.5 -> 11.5 -> 12
        // x = 3: 0.125 * 40 + (0.25 + 0.5) * 64 = 53, + 0.5 -> 53.5 -> 54
        EXPECT_EQ(LineOf(*dst, horizontal, 0, 0)[0], 12);
        EXPECT_EQ(LineOf(*dst, horizontal, 0, 0)[3], 54);
        EXPECT_EQ(LineOf(*dst, horizontal, 0, 0), SseModelLine({8, 16, 40, 64}, taps.data(), 1, horizontal));
    }
}

TEST_P(SseEngine, BiasPositionMattersInEveryRunOrder) {
    // A middle output built so that 0.5 first and 0.5 last round apart:
    // taps 1024, -1024, 1/32 on samples 16384, 16384, 96. With 0.5 first
    // (vertical middle rows), 0.5 + 2^24 rounds to 2^24 (ties to even) and
    // is lost: 0 + 3 = 3. With 0.5 last (horizontal runs), 2^24 - 2^24 + 3
    // + 0.5 = 3.5, a tie, rounds to 4.
    {
        const std::vector<float> taps = {1024.0f, -1024.0f, 1.0f / 32.0f};
        const std::vector<int> line = {16384, 16384, 96};
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, false)[1], 3);
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, true)[1], 4);
        SetSseTaps(kernelCache.horizontal, taps);
        SetSseTaps(kernelCache.vertical, taps);
        for (bool horizontal : {true, false}) {
            auto src = FrameOfLine(horizontal, line, horizontal ? 1 : 3);
            auto dst = PassInto(horizontal, *src, 1);
            for (int c = 0; c < 3; ++c) {
                const std::vector<int> got = LineOf(*dst, horizontal, 0, c);
                EXPECT_EQ(got[1], horizontal ? 4 : 3) << (horizontal ? "horizontal" : "vertical");
                EXPECT_EQ(got, SseModelLine(line, taps.data(), 1, horizontal));
            }
        }
    }
    // Every run at once (found by search): taps 1024, 0.09375, -16777213/16384
    // on samples 16383, 16383, 16384. Horizontal, 0.5 last everywhere: 1540,
    // 516, 516 (0.5 first would give 1539, 515, 515). Vertical, 0.5 last in
    // the top row and first in the middle and bottom rows: 1540, 515, 515
    // (the other way round would give 1539, 516, 516).
    {
        const std::vector<float> taps = {1024.0f, 0.09375f, -16777213.0f / 16384.0f};
        const std::vector<int> line = {16383, 16383, 16384};
        const std::vector<int> wantHorizontal = {1540, 516, 516};
        const std::vector<int> wantVertical = {1540, 515, 515};
        SseRules first, last;
        first.bias = BiasRule::AlwaysFirst;
        last.bias = BiasRule::AlwaysLast;
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, true), wantHorizontal);
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, true, first), (std::vector<int>{1539, 515, 515}));
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, false), wantVertical);
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, false, first)[0], 1539);
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, false, last)[1], 516);
        EXPECT_EQ(SseModelLine(line, taps.data(), 1, false, last)[2], 516);
        SetSseTaps(kernelCache.horizontal, taps);
        SetSseTaps(kernelCache.vertical, taps);
        for (bool horizontal : {true, false}) {
            auto src = FrameOfLine(horizontal, line, horizontal ? 2 : 4);
            auto dst = PassInto(horizontal, *src, 1);
            for (int index = 0; index < (horizontal ? 2 : 4); ++index)
                for (int c = 0; c < 3; ++c)
                    EXPECT_EQ(LineOf(*dst, horizontal, index, c), horizontal ? wantHorizontal : wantVertical)
                        << (horizontal ? "horizontal" : "vertical") << " line " << index << " channel " << c;
        }
    }
}

// --- The SSE frame pass driver. ---------------------------------------------

namespace {

lowpass::testing::EngineUnderTest SseUnderTest() {
    return lowpass::testing::EngineUnderTest{
        current->name, lowpass::testing::ProcOf(current->name), [](const std::vector<int>& s, bool horizontal, int n) {
            const std::vector<float> taps = SseTapsOf(horizontal ? kernelCache.horizontal : kernelCache.vertical, n);
            return SseModelLine(s, taps.data(), n, horizontal);
        }};
}

void CheckDriverRun(int w, int h, int maxW, int maxH, int x, int y, int n, bool expectDifferentFromScalar) {
    lowpass::testing::CheckDriverRun(SseUnderTest(), w, h, maxW, maxH, x, y, n, expectDifferentFromScalar);
}

}  // namespace

TEST_P(SseEngine, DriverRunsBothPassesLikeTheModelAndUnlikeTheScalarEngine) {
    CheckDriverRun(161, 97, 170, 99, 100, 60, 3, true);
    CheckDriverRun(121, 67, 121, 67, 64, 33, 15, true);
}

TEST_P(SseEngine, DriverRunsOnlyTheDirectionsThatExceedTheTarget) {
    CheckDriverRun(161, 50, 165, 52, 100, 60, 4, true);
    CheckDriverRun(90, 97, 93, 97, 100, 60, 4, true);
    CheckDriverRun(100, 60, 104, 61, 100, 60, 4, false);
}

TEST_P(SseEngine, DriverFallsBackToScalarForLinesShorterThanTheKernel) {
    CheckDriverRun(20, 45, 24, 46, 1, 1, 15, true);
    CheckDriverRun(45, 7, 45, 9, 1, 1, 15, true);
    CheckDriverRun(3, 2, 5, 2, 1, 1, 15, false);
    CheckDriverRun(31, 31, 33, 31, 1, 1, 15, true);
}

INSTANTIATE_TEST_SUITE_P(Implementations, SseEngine, ::testing::ValuesIn(kImplementations),
                         [](const ::testing::TestParamInfo<Implementation>& param) { return param.param.name; });
