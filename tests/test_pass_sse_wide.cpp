// The faster implementations of the SSE arithmetic (SSE2, AVX2) against
// the reference SSE passes, byte for byte: random frames of every N from 1
// to 15, lines from the shortest the passes take (2N + 1) up to 1920, odd
// sizes, strides wider than the picture, random bands, tables that
// saturate and overflow, samples at the ends of the 16-bit range, frames
// against inaccessible pages; the same under each non-default rounding
// mode.
//
// The reference passes are the model: their own tests pin them against a
// per-sample model of the arithmetic. An implementation the processor or
// system cannot run is skipped, and says so.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "core/pass_job.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "simd/pass_sse.h"
#include "simd/pass_sse_wide.h"
#include "tests/support/pass_check.h"
#include "tools/standin_host/stand_in_host.h"

using lowpass::CpuProbeOps;
using lowpass::KernelTables;
using lowpass::PassJob;
using lowpass::SseTrial;
using lowpass::testing::BufferKind;
using lowpass::testing::CaseShape;
using lowpass::testing::Channel;
using lowpass::standin::Lcg;
using lowpass::testing::PictureCopy;
using lowpass::testing::SetChannel;
using lowpass::testing::TestBuffer;

namespace {

struct Implementation {
    const char* name;
    lowpass::Pass horizontal;
    lowpass::Pass vertical;
    int (*usable)(const CpuProbeOps&);
};

void PrintTo(const Implementation& implementation, std::ostream* out) { *out << implementation.name; }

const Implementation kImplementations[] = {
    {"sse2", lowpass::HorizontalPassSse2, lowpass::VerticalPassSse2, lowpass::HasUsableSse2},
    {"avx2", lowpass::HorizontalPassAvx2, lowpass::VerticalPassAvx2, lowpass::HasUsableAvx2},
};

alignas(16) const float kBias[4] = {0.5f, 0.5f, 0.5f, 0.5f};

// The reference SSE pass over the whole picture, then EMMS.
void ReferencePass(bool horizontal, const PassJob& job) {
    (horizontal ? lowpass::HorizontalPassSse : lowpass::VerticalPassSse)(job);
    lowpass::ClearMmxState();
}

// The thread's MXCSR, read and written with the plain instructions (this
// file is built without SSE in the 32-bit configurations; it only runs
// them where SSE is usable).
std::uint32_t ReadMxcsr() {
    std::uint32_t value = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    return value;
}
void WriteMxcsr(std::uint32_t value) { __asm__ __volatile__("ldmxcsr %0" : : "m"(value)); }

constexpr std::uint32_t kRoundingMask = 3u << 13;
const struct {
    std::uint32_t bits;
    const char* name;
} kRoundingModes[] = {{0u << 13, "to nearest"}, {1u << 13, "down"}, {2u << 13, "up"}, {3u << 13, "toward zero"}};

// Sets the rounding control for its lifetime.
class RoundingMode {
public:
    explicit RoundingMode(std::uint32_t bits) : saved_(ReadMxcsr()) { WriteMxcsr((saved_ & ~kRoundingMask) | bits); }
    ~RoundingMode() { WriteMxcsr(saved_); }
    RoundingMode(const RoundingMode&) = delete;
    RoundingMode& operator=(const RoundingMode&) = delete;

private:
    std::uint32_t saved_;
};

// ---------------------------------------------------------------------------
// Random tables and shapes.

float RandomUnit(Lcg& rng) { return static_cast<float>(rng.Next() >> 8) / 16777216.0f; }  // [0, 1)

void SetTaps(KernelTables& t, const std::vector<float>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k)
        for (int lane = 0; lane < 4; ++lane) t.sseTaps[k][lane] = taps[k];
}

// A table for kernel half-length n: the kernel design's own; uniform
// fractions; dyadic fractions (exact sums, ties before the conversion);
// magnitudes that saturate; sums beyond 2^31 (the conversion's 0x80000000,
// which saturates to -32768 even for a positive sum); huge magnitudes that
// overflow to infinity; subnormal ones.
std::string RandomTable(Lcg& rng, int n, int lineLength, KernelTables& out) {
    const int pick = rng.Range(0, 39);
    if (pick < 8) {
        static const lowpass::WindowWeights windows[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                                         lowpass::kHammingWindow, lowpass::kBlackmanWindow};
        lowpass::KernelCache cache{};
        const lowpass::KernelSettings settings{rng.Range(1, lineLength), rng.Range(1, lineLength), n,
                                               windows[rng.Range(0, 3)]};
        lowpass::RebuildKernel(cache, settings, lineLength, lineLength);
        out = rng.Range(0, 1) ? cache.horizontal : cache.vertical;
        return "kernel design";
    }
    std::vector<float> taps(static_cast<std::size_t>(2 * n + 1));
    for (float& tap : taps) {
        if (pick < 16) {
            tap = RandomUnit(rng) - 0.25f;
        } else if (pick < 25) {
            tap = static_cast<float>(rng.Range(-32, 96)) / 128.0f;
        } else if (pick < 31) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-24, 12));
            tap = rng.Range(0, 1) ? magnitude : -magnitude;
        } else if (pick < 35) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(16, 30));
            tap = rng.Range(0, 4) ? magnitude : -magnitude;
        } else if (pick < 37) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(100, 127));
            tap = rng.Range(0, 2) == 0 ? -magnitude : (rng.Range(0, 1) ? magnitude : RandomUnit(rng));
        } else {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-149, -120));
            tap = rng.Range(0, 2) == 0 ? RandomUnit(rng) : (rng.Range(0, 1) ? magnitude : -magnitude);
        }
    }
    SetTaps(out, taps);
    return pick < 16   ? "uniform"
           : pick < 25 ? "dyadic"
           : pick < 31 ? "saturating"
           : pick < 35 ? "beyond 2^31"
           : pick < 37 ? "huge"
                       : "subnormal";
}

// A line length in the pass direction from 2N + 1 up to 1920: mostly short
// (every remainder of the vector blocks), sometimes long, sometimes at the
// boundaries where the passes split a row into segments or the band into
// strips.
int RandomLength(Lcg& rng, int n) {
    const int minimum = 2 * n + 1;
    const int pick = rng.Range(0, 99);
    if (pick < 12) return minimum;
    if (pick < 60) return minimum + rng.Range(1, 70);
    if (pick < 68) return 512 + 2 * n + rng.Range(-2, 2);  // middle of 1536 samples, give or take a pixel
    if (pick < 72) return 1024 + 2 * n + rng.Range(-1, 1);
    if (pick < 75) return 1920;
    return rng.Range(minimum, 1920);
}

struct Case {
    CaseShape shape;
    int n;
    int first, end;  // the band
    std::string table;
};

Case RandomCase(Lcg& rng, int n, bool horizontal, KernelTables& tables) {
    Case c{};
    c.n = n;
    const int length = RandomLength(rng, n);
    int across;
    if (horizontal) {
        across = rng.Range(0, 9) == 0 ? rng.Range(4, 12) : rng.Range(1, 3);
    } else {
        // Widths of 1 .. 12 pixels (every partial vector), now and then a
        // band of several strips (170 pixels are 510 samples).
        const int pick = rng.Range(0, 19);
        across = pick == 0 ? rng.Range(160, 420) : (pick == 1 ? rng.Range(168, 174) : rng.Range(1, 12));
        if (across > 100 && length > 200) across = rng.Range(1, 12);
    }
    c.shape.w = horizontal ? length : across;
    c.shape.h = horizontal ? across : length;
    c.shape.maxW = rng.Range(0, 5) == 0 ? c.shape.w : c.shape.w + rng.Range(1, 9);
    c.shape.maxH = c.shape.h + rng.Range(0, 2);
    const int kind = rng.Range(0, 9);
    c.shape.kind = kind < 2 ? BufferKind::TightEnd : (kind < 3 ? BufferKind::TightStart : BufferKind::Guarded);
    // The band: the whole picture, or a random part of it (possibly empty).
    const int lines = horizontal ? c.shape.h : c.shape.w;
    if (rng.Range(0, 2) == 0) {
        c.first = 0;
        c.end = lines;
    } else {
        c.first = rng.Range(0, lines);
        c.end = rng.Range(c.first, lines);
    }
    c.table = RandomTable(rng, n, length, tables);
    return c;
}

// ---------------------------------------------------------------------------
// One case: the reference over the whole picture, the implementation over
// the band into a destination whose picture holds other samples; inside
// the band the two agree, outside it the destination is untouched.

std::string DescribeCase(const Case& c, bool horizontal, const KernelTables& tables) {
    char text[256];
    std::snprintf(text, sizeof text, "%s pass, w=%d h=%d stride=%d N=%d band %d..%d, %s frames, %s table\n  sseTaps:",
                  horizontal ? "horizontal" : "vertical", c.shape.w, c.shape.h, c.shape.maxW, c.n, c.first, c.end - 1,
                  lowpass::testing::BufferKindName(c.shape.kind), c.table.c_str());
    std::string s = text;
    for (int k = 0; k <= 2 * c.n; ++k) {
        std::snprintf(text, sizeof text, " %.9g", static_cast<double>(tables.sseTaps[k][0]));
        s += text;
    }
    return s;
}

// Runs one case; returns false (after a failure naming the first differing
// sample, its position and its inputs) on a mismatch. `outputs` receives
// the reference's picture, `changed` counts samples unlike `compareTo`.
bool RunCase(const Implementation& impl, bool horizontal, const Case& c, const KernelTables& tables, Lcg& rng,
             const std::string& label, std::vector<int>* outputs = nullptr, const std::vector<int>* compareTo = nullptr,
             long long* changed = nullptr) {
    const CaseShape& shape = c.shape;
    TestBuffer src(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 21);
    TestBuffer ref(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 22);
    TestBuffer got(shape.kind, shape.w, shape.h, shape.maxW, shape.maxH, 23);
    lowpass::testing::FillRandom(src, shape, rng);
    lowpass::testing::FillRandom(got, shape, rng);
    const PictureCopy input = lowpass::testing::CopyPicture(src, shape.w, shape.h);
    const PictureCopy before = lowpass::testing::CopyPicture(got, shape.w, shape.h);

    PassJob job{src.data(), ref.data(), shape.w, shape.h, shape.maxW, c.n, &tables, kBias, 0,
                horizontal ? shape.h : shape.w};
    ReferencePass(horizontal, job);
    job.destination = got.data();
    job.first = c.first;
    job.end = c.end;
    (horizontal ? impl.horizontal : impl.vertical)(job);

    const PictureCopy want = lowpass::testing::CopyPicture(ref, shape.w, shape.h);
    for (int y = 0; y < shape.h; ++y)
        for (int x = 0; x < shape.w; ++x) {
            const int line = horizontal ? y : x;
            const bool inBand = line >= c.first && line < c.end;
            for (int ch = 0; ch < 3; ++ch) {
                const int value = Channel(got.at(x, y), ch);
                const int expected = inBand ? want.at(x, y, ch) : before.at(x, y, ch);
                if (value != expected) {
                    const int p = horizontal ? x : y;
                    ADD_FAILURE() << impl.name << " " << label << ": first differing sample at (x=" << x
                                  << ", y=" << y << ", channel " << ch << "): " << value
                                  << (inBand ? ", reference SSE " : " written outside the band, was ") << expected
                                  << "\n  " << DescribeCase(c, horizontal, tables) << "\n  "
                                  << lowpass::testing::DescribeLine(input.Line(horizontal, line, ch), p, c.n);
                    return false;
                }
            }
        }
    std::string where;
    const struct {
        TestBuffer* buffer;
        const char* name;
    } buffers[] = {{&src, "source"}, {&ref, "the reference's destination"}, {&got, "destination"}};
    for (const auto& b : buffers)
        if (!b.buffer->SentinelsIntact(&where)) {
            ADD_FAILURE() << impl.name << " " << label << ", " << b.name << ": " << where << "\n  "
                          << DescribeCase(c, horizontal, tables);
            return false;
        }
    if (lowpass::testing::CopyPicture(src, shape.w, shape.h).samples != input.samples) {
        ADD_FAILURE() << impl.name << " " << label << ": the pass changed its source";
        return false;
    }
    if (outputs != nullptr) *outputs = want.samples;
    if (compareTo != nullptr && changed != nullptr)
        for (std::size_t i = 0; i < want.samples.size(); ++i) *changed += want.samples[i] != (*compareTo)[i];
    return true;
}

class WideSse : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        if (!GetParam().usable(lowpass::NativeCpuProbeOps()))
            GTEST_SKIP() << "this processor or system cannot run the " << GetParam().name
                         << " implementation: not run";
    }
};

void RandomCases(const Implementation& impl, bool horizontal, int cases, std::uint32_t seed) {
    Lcg rng(seed);
    long long samples = 0;
    int banded = 0, tight = 0;
    for (int i = 0; i < cases; ++i) {
        KernelTables tables{};
        const Case c = RandomCase(rng, 1 + i % 15, horizontal, tables);
        if (!RunCase(impl, horizontal, c, tables, rng, "random case " + std::to_string(i))) return;
        samples += 3LL * c.shape.w * c.shape.h;
        banded += c.end - c.first != (horizontal ? c.shape.h : c.shape.w);
        tight += c.shape.kind != BufferKind::Guarded;
    }
    std::printf("[ %s %s ] %d random cases (%d on part of the picture, %d in tight frames), %lld samples, all equal "
                "to the reference SSE pass\n",
                impl.name, horizontal ? "across" : "down", cases, banded, tight, samples);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Implementations, WideSse, ::testing::ValuesIn(kImplementations),
                         [](const ::testing::TestParamInfo<Implementation>& param) { return param.param.name; });

TEST_P(WideSse, HorizontalPassEqualsReferenceOnRandomFrames) {
    RandomCases(GetParam(), true, lowpass::testing::RandomCaseCount(900), 4101);
}

TEST_P(WideSse, VerticalPassEqualsReferenceOnRandomFrames) {
    RandomCases(GetParam(), false, lowpass::testing::RandomCaseCount(900), 4102);
}

TEST_P(WideSse, EveryKernelSizeAtEveryShortLength) {
    // Each N at every line length from 2N + 1 to 2N + 40 (every remainder of
    // the vector blocks, edge runs meeting and overlapping the middle), two
    // lines across, frames that end and start at inaccessible pages.
    Lcg rng(4103);
    int cases = 0;
    for (bool horizontal : {true, false})
        for (int n = 1; n <= 15; ++n)
            for (int length = 2 * n + 1; length <= 2 * n + 40; ++length) {
                KernelTables tables{};
                Case c{};
                c.n = n;
                c.shape.w = horizontal ? length : 1 + length % 5;
                c.shape.h = horizontal ? 1 + length % 2 : length;
                c.shape.maxW = c.shape.w + length % 3;
                c.shape.maxH = c.shape.h;
                c.shape.kind = length % 3 == 0 ? BufferKind::Guarded
                                               : (length % 3 == 1 ? BufferKind::TightEnd : BufferKind::TightStart);
                c.first = 0;
                c.end = horizontal ? c.shape.h : c.shape.w;
                std::vector<float> taps;
                for (int k = 0; k <= 2 * n; ++k) taps.push_back(RandomUnit(rng) - 0.25f);
                SetTaps(tables, taps);
                c.table = "uniform";
                ++cases;
                if (!RunCase(GetParam(), horizontal, c, tables, rng, "N=" + std::to_string(n))) return;
            }
    std::printf("[ %s sizes ] %d cases, all equal to the reference SSE pass\n", GetParam().name, cases);
}

TEST_P(WideSse, VerticalPassOverManyStripsAndRowBlocks) {
    // Down the columns a band is walked in strips (a few hundred samples
    // wide, narrower the longer the kernel) within blocks of rows (256):
    // frames wide and tall enough for several of each, with blocks and
    // bands that start and end anywhere.
    Lcg rng(4105);
    int cases = 0;
    for (int n : {1, 3, 8, 15})
        for (int h : {2 * n + 1 + 256, 560, 1000 + n}) {
            KernelTables tables{};
            Case c{};
            c.n = n;
            c.shape.w = 300 + rng.Range(0, 150);
            c.shape.h = h;
            c.shape.maxW = c.shape.w + rng.Range(0, 3);
            c.shape.maxH = h;
            c.shape.kind = cases % 3 == 0 ? BufferKind::TightEnd : BufferKind::Guarded;
            c.first = cases % 2 == 0 ? 0 : rng.Range(1, 40);
            c.end = c.shape.w - (cases % 4 < 2 ? 0 : rng.Range(1, 40));
            std::vector<float> taps;
            for (int k = 0; k <= 2 * n; ++k) taps.push_back(RandomUnit(rng) - 0.25f);
            SetTaps(tables, taps);
            c.table = "uniform";
            ++cases;
            if (!RunCase(GetParam(), false, c, tables, rng, "N=" + std::to_string(n) + " h=" + std::to_string(h)))
                return;
        }
}

TEST_P(WideSse, PositiveSumBeyondTwoToThe31GivesMinus32768) {
    // c[N] = 2^17 on 32767 gives 4294836224: outside int32, the conversion
    // gives 0x80000000, which saturates to -32768 (not 32767); on -32768 it
    // gives -2^32, also -32768. Both passes, every run of a line.
    KernelTables tables{};
    std::vector<float> taps = {0.0f, 131072.0f, 0.0f};
    SetTaps(tables, taps);
    for (bool horizontal : {true, false}) {
        const int length = 40;
        lowpass::standin::GuardedFrame src(horizontal ? length : 3, horizontal ? 2 : length,
                                           horizontal ? length + 1 : 4, horizontal ? 2 : length, 1);
        lowpass::standin::GuardedFrame dst(src.w(), src.h(), src.maxW(), src.maxH(), 2);
        for (int y = 0; y < src.h(); ++y)
            for (int x = 0; x < src.w(); ++x) src.at(x, y) = PIXEL_YC{32767, -32768, 1};
        const PassJob job{src.data(), dst.data(), src.w(), src.h(), src.maxW(), 1, &tables, kBias, 0,
                          horizontal ? src.h() : src.w()};
        (horizontal ? GetParam().horizontal : GetParam().vertical)(job);
        for (int y = 0; y < src.h(); ++y)
            for (int x = 0; x < src.w(); ++x) {
                ASSERT_EQ(dst.at(x, y).y, -32768) << (horizontal ? "across" : "down") << " x=" << x << " y=" << y;
                ASSERT_EQ(dst.at(x, y).cb, -32768) << (horizontal ? "across" : "down") << " x=" << x << " y=" << y;
                ASSERT_EQ(dst.at(x, y).cr, 32767) << (horizontal ? "across" : "down") << " x=" << x << " y=" << y;
            }
    }
}

TEST_P(WideSse, ConversionFollowsTheThreadsRoundingMode) {
    // Under each rounding mode the implementation gives the reference's
    // samples under the same mode; the modes give different frames, so an
    // implementation that rounded its own way would be caught. MXCSR is
    // restored after every case.
    const int cases = lowpass::testing::RandomCaseCount(150);
    for (bool horizontal : {true, false}) {
        Lcg shapes(4104 + horizontal);
        long long total[4] = {0, 0, 0, 0};
        for (int i = 0; i < cases; ++i) {
            KernelTables tables{};
            Case c = RandomCase(shapes, 1 + i % 15, horizontal, tables);
            if (c.table != "kernel design" && c.table != "uniform" && c.table != "dyadic") {
                std::vector<float> taps;
                for (int k = 0; k <= 2 * c.n; ++k) taps.push_back(static_cast<float>(shapes.Range(-32, 96)) / 128.0f);
                SetTaps(tables, taps);
                c.table = "dyadic";
            }
            std::vector<int> nearest;
            long long changed[4] = {0, 0, 0, 0};
            for (int m = 0; m < 4; ++m) {
                Lcg samples(9000 + i);  // the same frame under every mode
                RoundingMode mode(kRoundingModes[m].bits);
                const std::string label = std::string("rounding ") + kRoundingModes[m].name + ", case " + std::to_string(i);
                std::vector<int> out;
                if (!RunCase(GetParam(), horizontal, c, tables, samples, label, &out, m == 0 ? nullptr : &nearest,
                             &changed[m]))
                    return;
                if (m == 0) nearest = out;
            }
            for (int m = 1; m < 4; ++m) total[m] += changed[m];
            if (i == cases - 1) {
                std::printf("[ %s %s ] samples unlike round-to-nearest's: down %lld, up %lld, toward zero %lld\n",
                            GetParam().name, horizontal ? "across" : "down", total[1], total[2], total[3]);
                for (int m = 1; m < 4; ++m)
                    EXPECT_GT(total[m], 0) << "rounding " << kRoundingModes[m].name << " changed nothing";
            }
        }
    }
    EXPECT_EQ(ReadMxcsr() & kRoundingMask, 0u) << "MXCSR's rounding control was not restored";
}
