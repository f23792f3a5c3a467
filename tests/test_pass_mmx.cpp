// The MMX engine against a plain, per-sample model of its own
// arithmetic, written out here as slowly and obviously as possible: the
// sample pre-shifted by 2 with a 16-bit wrap, the upper half of the 32-bit
// product (a floor), the taps beyond an edge summed with a 16-bit wrap into
// one edge weight, and 16-bit wrapping sums, section by section in the
// order the engine computes them. Then the engine's worked examples, the
// MMX frame pass driver, and the slack and guard pages around every buffer.
//
// On a processor without MMX every test here is skipped and says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
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
#include "simd/pass_mmx.h"
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

int Wrap16(long long v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<unsigned long long>(v) & 0xffffu));
}

// How the model computes; the defaults are the engine's rules. The other
// settings are plausible mistakes, used only to show that the random cases
// would catch them.
struct MmxRules {
    bool foldEdges = true;       // edge taps summed into one weight, one product
    bool wrapPreShift = true;    // 4*s taken modulo 2^16 before the multiply
    bool roundProducts = false;  // a rounding term in each product
    bool saturateSums = false;   // sums clamp instead of wrapping
};

// PSLLW by 2, then PMULHW: the upper half of c times the wrapped 4*s.
int MmxProduct(int c, int s, const MmxRules& rules = {}) {
    if (!rules.wrapPreShift) {
        const long long exact = static_cast<long long>(c) * s;  // floor(c*s / 16384)
        return Wrap16(exact >= 0 ? exact / 16384 : -((-exact + 16383) / 16384));
    }
    const int s4 = Wrap16(4LL * s);
    const long long product = static_cast<long long>(c) * s4 + (rules.roundProducts ? 0x8000 : 0);
    // floor(product / 65536), written without relying on shifts of negatives
    const long long high = product >= 0 ? product / 65536 : -((-product + 65535) / 65536);
    return static_cast<int>(high);
}

// One line of L samples filtered with the 2N+1 coefficients c[0..2N]
// (signed 16-bit values), section by section in the engine's order.
std::vector<int> MmxModelLine(const std::vector<int>& s, const int* c, int n, const MmxRules& rules = {}) {
    const int length = static_cast<int>(s.size());
    std::vector<int> out(static_cast<std::size_t>(length));
    for (int p = 0; p < length; ++p) {
        int sum = 0;
        auto add = [&](int term) {
            if (rules.saturateSums)
                sum = std::clamp(sum + term, -32768, 32767);
            else
                sum = Wrap16(static_cast<long long>(sum) + term);
        };
        auto edge = [&](int first, int last, int sample) {
            if (rules.foldEdges) {
                int weight = 0;  // summed from 0 in ascending k, wrapping
                for (int k = first; k <= last; ++k) weight = Wrap16(static_cast<long long>(weight) + c[k]);
                add(MmxProduct(weight, sample, rules));
            } else {
                for (int k = first; k <= last; ++k) add(MmxProduct(c[k], sample, rules));
            }
        };
        if (p < n) {
            // near edge: the edge product first, then c(N-p+1) .. c2N
            edge(0, n - p, s[0]);
            for (int k = n - p + 1; k <= 2 * n; ++k) add(MmxProduct(c[k], s[p + k - n], rules));
        } else if (p < length - n) {
            for (int k = 0; k <= 2 * n; ++k) add(MmxProduct(c[k], s[p + k - n], rules));
        } else {
            // far edge, j = 0 .. N-1: c0 .. c(2N-j-2), then the edge product last
            const int j = p - (length - n);
            for (int k = 0; k <= 2 * n - j - 2; ++k) add(MmxProduct(c[k], s[p + k - n], rules));
            edge(2 * n - j - 1, 2 * n, s[length - 1]);
        }
        out[static_cast<std::size_t>(p)] = sum;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Tables, passes and frames.

void SetMmxTaps(KernelTables& t, const std::vector<int>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k)
        for (int lane = 0; lane < 4; ++lane) t.mmxTaps[k][lane] = static_cast<std::int16_t>(taps[k]);
}

void SetFixedTaps(KernelTables& t, const std::vector<int>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k) t.fixedTaps[k] = taps[k];
}

std::vector<int> MmxTapsOf(const KernelTables& t, int n) {
    std::vector<int> taps;
    for (int k = 0; k <= 2 * n; ++k) taps.push_back(t.mmxTaps[k][0]);
    return taps;
}

using lowpass::testing::VectorPass;
using lowpass::testing::FrameOfLine;
using lowpass::testing::FrameOfLines;
using lowpass::testing::LineOf;
using lowpass::testing::ScalarInto;

VectorPass MmxPass(bool horizontal) {
    return horizontal ? lowpass::testing::WholePicture<lowpass::HorizontalPassMmx, true>
                      : lowpass::testing::WholePicture<lowpass::VerticalPassMmx, false>;
}

// One MMX pass, then EMMS: the test's own code may use floating point.
void RunMmx(bool horizontal, const PIXEL_YC* src, PIXEL_YC* dst, int w, int h, int maxW, int n) {
    MmxPass(horizontal)(src, dst, w, h, maxW, n);
    lowpass::ClearMmxState();
}

// Runs a pass from `src` into a fresh guarded destination and checks the
// sentinels of both frames.
std::unique_ptr<GuardedFrame> PassInto(bool horizontal, const GuardedFrame& src, int n) {
    return lowpass::testing::PassInto(MmxPass(horizontal), src, n);
}

std::string Join(const std::vector<int>& v) {
    std::string s;
    for (int x : v) s += (s.empty() ? "" : ", ") + std::to_string(x);
    return s;
}

class MmxEngine : public ::testing::Test {
protected:
    void SetUp() override {
        savedCache_ = kernelCache;
        savedWeights_ = lowpass::windowWeights;
        savedCaps_ = lowpass::cpuCaps;
        if (!lowpass::testing::ProcessorHasMmx())
            GTEST_SKIP() << "this processor has no MMX (CpuCaps " << lowpass::testing::ProcessorCaps()
                         << "): the MMX engine is not run";
        lowpass::cpuCaps = lowpass::testing::ProcessorCaps();
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

// A random table for one direction: the kernel design's own, moderate
// random coefficients, the full int16 range (sums and edge weights wrap), or
// the extreme values only.
void RandomMmxTable(Lcg& rng, bool horizontal, int n, int lineLength, std::string* kind) {
    KernelTables& t = horizontal ? kernelCache.horizontal : kernelCache.vertical;
    const int pick = rng.Range(0, 19);
    std::vector<int> taps(static_cast<std::size_t>(2 * n + 1));
    if (pick < 4) {
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
    static const int kExtremes[] = {-32768, -32767, -16384, -8192, -1, 0, 1, 8192, 16383, 16384, 32767};
    for (int& tap : taps) {
        if (pick < 11)
            tap = rng.Range(-4096, 16384);
        else if (pick < 17)
            tap = rng.Range(-32768, 32767);
        else
            tap = kExtremes[rng.Range(0, static_cast<int>(sizeof kExtremes / sizeof kExtremes[0]) - 1)];
    }
    SetMmxTaps(t, taps);
    *kind = pick < 11 ? "moderate random" : (pick < 17 ? "full-range random" : "extreme values");
}

struct RandomTotals {
    int cases = 0;
    long long samples = 0;
    int tight = 0;
    int caught[4] = {0, 0, 0, 0};  // cases in which each mistaken rule would differ
};

void RunRandomCases(bool horizontal, int cases, std::uint32_t seed, RandomTotals& totals) {
    Lcg rng(seed);
    for (int i = 0; i < cases; ++i) {
        const int n = 1 + i % 15;
        const CaseShape shape = lowpass::testing::RandomShape(rng, n, horizontal);
        std::string tableKind;
        RandomMmxTable(rng, horizontal, n, horizontal ? shape.w : shape.h, &tableKind);
        const std::vector<int> taps = MmxTapsOf(horizontal ? kernelCache.horizontal : kernelCache.vertical, n);

        TestBuffer src(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 11);
        TestBuffer dst(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 12);
        lowpass::testing::FillRandom(src, shape, rng);
        const PictureCopy input = lowpass::testing::CopyPicture(src, shape.w, shape.h);

        RunMmx(horizontal, src.data(), dst.data(), shape.w, shape.h, shape.maxW, n);

        ++totals.cases;
        if (shape.kind != lowpass::testing::BufferKind::Guarded) ++totals.tight;
        const int lines = horizontal ? shape.h : shape.w;
        bool differs[4] = {false, false, false, false};
        for (int line = 0; line < lines; ++line)
            for (int c = 0; c < 3; ++c) {
                const std::vector<int> s = input.Line(horizontal, line, c);
                const std::vector<int> want = MmxModelLine(s, taps.data(), n);
                for (int p = 0; p < static_cast<int>(s.size()); ++p) {
                    const int x = horizontal ? p : line;
                    const int y = horizontal ? line : p;
                    const int got = Channel(dst.at(x, y), c);
                    if (got != want[static_cast<std::size_t>(p)]) {
                        FAIL() << "MMX " << (horizontal ? "HorizontalPass" : "VerticalPass") << " random case " << i
                               << ": first differing sample at (x=" << x << ", y=" << y << ", channel " << c
                               << "): engine " << got << ", model " << want[static_cast<std::size_t>(p)]
                               << "\n  w=" << shape.w << " h=" << shape.h << " max_w=" << shape.maxW << " N=" << n
                               << ", " << BufferKindName(shape.kind) << " frames, " << tableKind << " table"
                               << "\n  mmxTaps: " << Join(taps) << "\n  "
                               << lowpass::testing::DescribeLine(s, p, n);
                    }
                }
                totals.samples += static_cast<long long>(s.size());
                // Would a mistaken rule have been caught by this case?
                if (i % 4 == 0) {
                    MmxRules mistakes[4];
                    mistakes[0].foldEdges = false;
                    mistakes[1].wrapPreShift = false;
                    mistakes[2].roundProducts = true;
                    mistakes[3].saturateSums = true;
                    for (int m = 0; m < 4; ++m)
                        if (!differs[m] && MmxModelLine(s, taps.data(), n, mistakes[m]) != want) differs[m] = true;
                }
            }
        for (int m = 0; m < 4; ++m) totals.caught[m] += differs[m] ? 1 : 0;

        std::string where;
        ASSERT_TRUE(dst.SentinelsIntact(&where)) << "random case " << i << ", destination: " << where;
        ASSERT_TRUE(src.SentinelsIntact(&where)) << "random case " << i << ", source: " << where;
        ASSERT_TRUE(lowpass::testing::CopyPicture(src, shape.w, shape.h).samples == input.samples)
            << "random case " << i << ": the pass changed its source";
    }
}

void ReportRandom(const char* what, const RandomTotals& totals) {
    std::printf("[ MMX %s ] %d random cases (%d with tight frames), %lld samples, 0 mismatches; "
                "mistaken rules caught in (of every fourth case): separate edge products %d, unwrapped pre-shift "
                "%d, rounded products %d, saturating sums %d\n",
                what, totals.cases, totals.tight, totals.samples, totals.caught[0], totals.caught[1],
                totals.caught[2], totals.caught[3]);
    ::testing::Test::RecordProperty("random_cases", totals.cases);
    ::testing::Test::RecordProperty("random_samples", std::to_string(totals.samples));
    // The random data is strong enough to tell the engine's rules from each
    // of these mistakes.
    // (Only asserted on a full run; a reduced run under emulation only reports.)
    if (totals.cases < 1000) return;
    for (int m = 0; m < 4; ++m) EXPECT_GT(totals.caught[m], 0) << "mistaken rule " << m << " never caught";
}

}  // namespace

TEST_F(MmxEngine, HorizontalPassMatchesModelOnRandomFrames) {
    RandomTotals totals;
    RunRandomCases(true, lowpass::testing::RandomCaseCount(1500), 2201, totals);
    if (HasFatalFailure()) return;
    ReportRandom("HorizontalPass", totals);
}

TEST_F(MmxEngine, VerticalPassMatchesModelOnRandomFrames) {
    RandomTotals totals;
    RunRandomCases(false, lowpass::testing::RandomCaseCount(1500), 2202, totals);
    if (HasFatalFailure()) return;
    ReportRandom("VerticalPass", totals);
}

TEST_F(MmxEngine, EveryKernelSizeAtSmallestAndAwkwardSizes) {
    // Every N, the smallest line (2N + 1: N near-edge outputs, one middle
    // output, N far-edge outputs) and a few odd lengths; frames that end at
    // their allocation's end and frames that start at its start.
    Lcg rng(99);
    int cases = 0;
    for (int n = 1; n <= 15; ++n)
        for (bool horizontal : {true, false})
            for (int extra : {0, 1, 2, 5, 14})
                for (auto kind : {lowpass::testing::BufferKind::Guarded, lowpass::testing::BufferKind::TightEnd,
                                  lowpass::testing::BufferKind::TightStart}) {
                    const int length = 2 * n + 1 + extra;
                    const int across = horizontal ? 2 : (extra % 2 ? 5 : 7);
                    const int w = horizontal ? length : across;
                    const int h = horizontal ? across : length;
                    const int maxW = kind == lowpass::testing::BufferKind::Guarded ? w + 1 : w + 3;
                    std::vector<int> taps;
                    for (int k = 0; k <= 2 * n; ++k) taps.push_back(rng.Range(-32768, 32767));
                    SetMmxTaps(horizontal ? kernelCache.horizontal : kernelCache.vertical, taps);
                    TestBuffer src(kind, w, h, maxW, h, 3), dst(kind, w, h, maxW, h, 4);
                    const CaseShape shape{w, h, maxW, h, kind};
                    lowpass::testing::FillRandom(src, shape, rng);
                    const PictureCopy input = lowpass::testing::CopyPicture(src, w, h);
                    RunMmx(horizontal, src.data(), dst.data(), w, h, maxW, n);
                    ++cases;
                    for (int line = 0; line < (horizontal ? h : w); ++line)
                        for (int c = 0; c < 3; ++c) {
                            const std::vector<int> s = input.Line(horizontal, line, c);
                            const std::vector<int> want = MmxModelLine(s, taps.data(), n);
                            for (int p = 0; p < length; ++p) {
                                const int x = horizontal ? p : line, y = horizontal ? line : p;
                                ASSERT_EQ(Channel(dst.at(x, y), c), want[static_cast<std::size_t>(p)])
                                    << (horizontal ? "horizontal" : "vertical") << " (x=" << x << ", y=" << y
                                    << ", channel " << c << ") w=" << w << " h=" << h << " max_w=" << maxW
                                    << " N=" << n << " " << BufferKindName(kind) << "\n  mmxTaps: " << Join(taps)
                                    << "\n  " << lowpass::testing::DescribeLine(s, p, n);
                            }
                        }
                    std::string where;
                    ASSERT_TRUE(dst.SentinelsIntact(&where)) << where;
                    ASSERT_TRUE(src.SentinelsIntact(&where)) << where;
                }
    std::printf("[ MMX sizes ] %d cases: every N at 2N+1 and a few lengths above, three kinds of frame\n", cases);
}

// --- Worked examples of the MMX engine, verbatim. --------------------------

namespace {
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

TEST_F(MmxEngine, WorkedExampleProductsAndEdgeWeight) {
    // The five middle products of 1000: each floored, no rounding term.
    const int products[5] = {MmxProduct(-819, 1000), MmxProduct(4915, 1000), MmxProduct(8192, 1000),
                             MmxProduct(4915, 1000), MmxProduct(-819, 1000)};
    EXPECT_EQ(std::vector<int>(products, products + 5), (std::vector<int>{-50, 299, 500, 299, -50}));
    // The edge weight -819 + 4915 + 8192 = 12288 gives one product of 750;
    // three separate products would give 749.
    EXPECT_EQ(MmxProduct(12288, 1000), 750);
    EXPECT_EQ(MmxProduct(-819, 1000) + MmxProduct(4915, 1000) + MmxProduct(8192, 1000), 749);
    // Multiplying the edge taps separately would give 998 at every position
    // of the first row and 4198, 3998 at x = 4, 5 of the third.
    MmxRules separate;
    separate.foldEdges = false;
    EXPECT_EQ(MmxModelLine(kRows[0], kExampleTaps.data(), 2, separate), (std::vector<int>(6, 998)));
    const std::vector<int> third = MmxModelLine(kRows[2], kExampleTaps.data(), 2, separate);
    EXPECT_EQ(third[4], 4198);
    EXPECT_EQ(third[5], 3998);
    // The model itself gives the documented outputs.
    for (int r = 0; r < 3; ++r) EXPECT_EQ(MmxModelLine(kRows[r], kExampleTaps.data(), 2), kMmxOut[r]) << r;
}

TEST_F(MmxEngine, WorkedExampleRowsOfSixInBothPassesAndEveryChannel) {
    SetMmxTaps(kernelCache.horizontal, kExampleTaps);
    SetMmxTaps(kernelCache.vertical, kExampleTaps);
    SetFixedTaps(kernelCache.horizontal, kExampleFixed);
    SetFixedTaps(kernelCache.vertical, kExampleFixed);
    for (bool horizontal : {true, false}) {
        SCOPED_TRACE(horizontal ? "HorizontalPass" : "VerticalPass");
        // Each example row in every channel at once, and the three rows as y,
        // cb and cr of one line; vertically as columns, five of them so the
        // second column group holds one pixel.
        for (int layout = 0; layout < 4; ++layout) {
            std::vector<int> lines[3];
            for (int c = 0; c < 3; ++c) lines[c] = kRows[layout < 3 ? layout : c];
            auto src = FrameOfLines(horizontal, lines, horizontal ? 2 : 5);
            auto mmx = PassInto(horizontal, *src, 2);
            auto scalar = ScalarInto(horizontal, *src, 2);
            for (int index = 0; index < (horizontal ? 2 : 5); ++index)
                for (int c = 0; c < 3; ++c) {
                    const int row = layout < 3 ? layout : c;
                    EXPECT_EQ(LineOf(*mmx, horizontal, index, c), kMmxOut[row])
                        << "layout " << layout << " line " << index << " channel " << c;
                    EXPECT_EQ(LineOf(*scalar, horizontal, index, c), kScalarOut[row])
                        << "scalar engine, layout " << layout << " line " << index << " channel " << c;
                }
        }
    }
}

TEST_F(MmxEngine, WorkedExampleRectangularKernelConstantRows) {
    // The table kernel design builds for the rectangular window, X = 320,
    // w = 640, N = 3.
    lowpass::windowWeights = lowpass::kRectangularWindow;
    StandInHost host;
    host.SetTrack(320, 240, 3);
    FILTER_PROC_INFO info{};
    info.w = 640;
    info.h = 480;
    lowpass::testing::RebuildFor(host, info.w, info.h);
    ASSERT_EQ(MmxTapsOf(kernelCache.horizontal, 3), (std::vector<int>{-1220, 0, 3661, 11502, 3661, 0, -1220}));

    for (int value : {4096, 2048}) {
        std::vector<int> lines[3] = {std::vector<int>(640, value), std::vector<int>(640, value),
                                     std::vector<int>(640, value)};
        auto src = FrameOfLines(true, lines, 2);
        auto mmx = PassInto(true, *src, 3);
        auto scalar = ScalarInto(true, *src, 3);
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

TEST_F(MmxEngine, WorkedExampleUnitImpulseCopiesWithinRangeAndWrapsOutside) {
    SetMmxTaps(kernelCache.horizontal, {0, 0, 16384, 0, 0});
    SetMmxTaps(kernelCache.vertical, {0, 0, 16384, 0, 0});
    // Every 16-bit value, as a 256 x 256 frame.
    GuardedFrame src(256, 256, 259, 257, 8);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = y * 256 + x - 32768;
            src.at(x, y) = PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(-1 - v),
                                    static_cast<std::int16_t>(v ^ 0x2aaa)};
        }
    for (bool horizontal : {true, false}) {
        auto dst = PassInto(horizontal, src, 2);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int s = Channel(src.at(x, y), c);
                    const int want = (s >= -8192 && s <= 8191) ? s : Wrap16(4LL * s) / 4;
                    ASSERT_EQ(Channel(dst->at(x, y), c), want)
                        << (horizontal ? "horizontal" : "vertical") << " sample " << s;
                }
    }
    // The three documented wrapping values.
    std::vector<int> lines[3] = {{0, 0, 8192, 0, 0}, {0, 0, 10000, 0, 0}, {0, 0, -9000, 0, 0}};
    auto named = FrameOfLines(true, lines, 1);
    auto out = PassInto(true, *named, 2);
    EXPECT_EQ(out->at(2, 0).y, -8192);
    EXPECT_EQ(out->at(2, 0).cb, -6384);
    EXPECT_EQ(out->at(2, 0).cr, 7384);
}

TEST_F(MmxEngine, WorkedExampleSample8192WrapsBeforeTheMultiply) {
    SetMmxTaps(kernelCache.horizontal, kExampleTaps);
    SetMmxTaps(kernelCache.vertical, kExampleTaps);
    const std::vector<int> want = {409, -2458, -4096, -2458, 409};
    for (bool horizontal : {true, false}) {
        std::vector<int> lines[3] = {{0, 0, 8192, 0, 0}, {0, 0, 8192, 0, 0}, {0, 0, 8192, 0, 0}};
        auto src = FrameOfLines(horizontal, lines, horizontal ? 1 : 3);
        auto dst = PassInto(horizontal, *src, 2);
        for (int c = 0; c < 3; ++c) EXPECT_EQ(LineOf(*dst, horizontal, 0, c), want) << horizontal << c;
    }
}

TEST_F(MmxEngine, WorkedExampleSumsAndEdgeWeightsWrap) {
    // Five entries of 16384: the middle sum 40000 wraps; the edge weights
    // 49152 and 32768 wrap to -16384 and -32768 before they multiply.
    SetMmxTaps(kernelCache.horizontal, {16384, 16384, 16384, 16384, 16384});
    SetMmxTaps(kernelCache.vertical, {16384, 16384, 16384, 16384, 16384});
    const std::vector<int> want = {8000, 8000, -25536, -25536, 8000, 8000};
    for (bool horizontal : {true, false}) {
        std::vector<int> lines[3] = {std::vector<int>(6, 8000), std::vector<int>(6, 8000), std::vector<int>(6, 8000)};
        auto src = FrameOfLines(horizontal, lines, horizontal ? 3 : 4);
        auto dst = PassInto(horizontal, *src, 2);
        for (int index = 0; index < (horizontal ? 3 : 4); ++index)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(LineOf(*dst, horizontal, index, c), want) << horizontal << " " << index << " " << c;
    }
}

TEST_F(MmxEngine, WorkedExampleSlackAfterRowAndBeyondLastColumnGroupUntouched) {
    // w = 33: G = 9 column groups span 36 pixels; with max_w = 40 the pixels
    // 33 .. 39 of every row, the pixel right after each row's last picture
    // pixel among them, keep their sentinels. The same for the horizontal
    // pass, whose last pixel an 8-byte store would overrun.
    Lcg rng(5);
    for (bool horizontal : {true, false}) {
        std::vector<int> taps;
        for (int k = 0; k <= 6; ++k) taps.push_back(rng.Range(-4096, 16384));
        SetMmxTaps(horizontal ? kernelCache.horizontal : kernelCache.vertical, taps);
        GuardedFrame src(33, 9, 40, 11, 21);
        src.FillRandom(7, -32768, 32767);
        auto dst = PassInto(horizontal, src, 3);
        for (int line = 0; line < (horizontal ? 9 : 33); ++line)
            for (int c = 0; c < 3; ++c) {
                std::vector<int> s = LineOf(src, horizontal, line, c);
                EXPECT_EQ(LineOf(*dst, horizontal, line, c), MmxModelLine(s, taps.data(), 3));
            }
    }
}

// --- The MMX frame pass driver. ---------------------------------------------

namespace {

const lowpass::testing::EngineUnderTest& MmxUnderTest() {
    static const lowpass::testing::EngineUnderTest engine{
        "MMX", lowpass::testing::ProcOf("mmx"), [](const std::vector<int>& s, bool horizontal, int n) {
            const std::vector<int> taps = MmxTapsOf(horizontal ? kernelCache.horizontal : kernelCache.vertical, n);
            return MmxModelLine(s, taps.data(), n);
        }};
    return engine;
}

void CheckDriverRun(int w, int h, int maxW, int maxH, int x, int y, int n, bool expectDifferentFromScalar) {
    lowpass::testing::CheckDriverRun(MmxUnderTest(), w, h, maxW, maxH, x, y, n, expectDifferentFromScalar);
}

}  // namespace

TEST_F(MmxEngine, DriverRunsBothPassesLikeTheModelAndUnlikeTheScalarEngine) {
    CheckDriverRun(161, 97, 170, 99, 100, 60, 3, true);
    CheckDriverRun(121, 67, 121, 67, 64, 33, 15, true);
}

TEST_F(MmxEngine, DriverRunsOnlyTheDirectionsThatExceedTheTarget) {
    CheckDriverRun(161, 50, 165, 52, 100, 60, 4, true);   // horizontal only
    CheckDriverRun(90, 97, 93, 97, 100, 60, 4, true);     // vertical only
    CheckDriverRun(100, 60, 104, 61, 100, 60, 4, false);  // none: the frame is returned untouched
}

TEST_F(MmxEngine, DriverFallsBackToScalarForLinesShorterThanTheKernel) {
    // X and Y as a SizeRequest can set them: every frame is too large, and
    // a line shorter than 2N + 1 = 31 has no room for the MMX passes.
    // (X = Y = 1 rather than 0, so that the cutoff is not 0 and the kernel
    // not a unit impulse.)
    CheckDriverRun(20, 45, 24, 46, 1, 1, 15, true);  // rows short, columns long
    CheckDriverRun(45, 7, 45, 9, 1, 1, 15, true);    // columns short
    CheckDriverRun(3, 2, 5, 2, 1, 1, 15, false);     // both short: scalar only
    CheckDriverRun(31, 31, 33, 31, 1, 1, 15, true);  // exactly 2N + 1 both ways
}
