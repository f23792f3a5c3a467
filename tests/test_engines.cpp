// One harness for every implementation of the passes, checkasm-style: each
// engine of the registry (simd/engines.cpp) is run against the model it
// must equal byte for byte on many random frames, sizes, strides and
// tables, with sentinels around every buffer and frames that end (or
// start) right at an inaccessible page; as random bands of its lines;
// through the plug-in's frame entry; and, for the vector arithmetic,
// against the portable engine within the measured distance. A mismatch
// names the first differing sample, its position and its inputs.
//
// What each engine is checked against comes from its entry: the engine it
// is declared the same as (the faster implementations of the SSE
// arithmetic must equal the reference SSE passes), or else the plain model
// of its arithmetic (test_pass_scalar.cpp, test_pass_mmx.cpp,
// test_pass_sse.cpp), which also says which table form it reads. An engine
// the processor cannot run is skipped with a message that says why. The
// checks through the plug-in's frame entry run for the engines the 1.x
// plug-in may use; the distance to the portable engine for every engine
// that reads the MMX or float tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "simd/mmx_state.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/pass_check.h"
#include "tests/support/random_seed.h"
#include "tests/support/tight_frame.h"

namespace {

using lowpass::KernelTables;
using lowpass::PassJob;
using lowpass::PassPair;
using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::Lcg;
using lowpass::standin::StandInHost;
using lowpass::testing::Channel;
using lowpass::testing::PassTables;
using lowpass::testing::RandomCaseCount;
using lowpass::testing::SetChannel;
using lowpass::testing::TightFrame;

// Which coefficients of the tables an implementation reads.
enum class Taps { Fixed, Mmx, Float };

struct Implementation {
    const char* name;  // the engine's name in the registry
    int needs;         // capability bits the processor must offer
    PassPair passes;   // lines of at least 2N + 1 samples (any length when anyLength); both at once up to
                       // passes.fusedTaps where passes.fused is set
    PassPair model;    // what the passes must equal, byte for byte
    Taps taps;
    bool anyLength;        // takes lines shorter than the kernel (the portable arithmetic)
    bool modelIsAnEngine;  // the model is another engine (which follows the rounding control as it does)
    unsigned frontEnds;    // which front ends may choose it
};

namespace t = lowpass::testing;

// The plain model of each arithmetic, as passes.
PassPair ModelOf(lowpass::Arithmetic arithmetic) {
    switch (arithmetic) {
        case lowpass::Arithmetic::Portable: return PassPair{t::ScalarModelAcross, t::ScalarModelDown, nullptr};
        case lowpass::Arithmetic::Mmx: return PassPair{t::MmxModelAcross, t::MmxModelDown, nullptr};
        case lowpass::Arithmetic::Sse: return PassPair{t::SseModelAcross, t::SseModelDown, nullptr};
        case lowpass::Arithmetic::Float: break;  // image engines: their own model, below
    }
    return PassPair{};
}

Taps TapsOf(lowpass::Arithmetic arithmetic) {
    switch (arithmetic) {
        case lowpass::Arithmetic::Portable: return Taps::Fixed;
        case lowpass::Arithmetic::Mmx: return Taps::Mmx;
        case lowpass::Arithmetic::Sse: return Taps::Float;
        case lowpass::Arithmetic::Float: break;  // image engines: their own taps, below
    }
    return Taps::Fixed;
}

// Every engine of the registry that filters int16 frames, with its model.
std::vector<Implementation> AllImplementations() {
    std::vector<Implementation> all;
    for (const lowpass::Engine& engine : lowpass::Engines()) {
        if (engine.samples != lowpass::Samples::Int16) continue;
        const lowpass::Engine* reference = engine.sameAs != nullptr ? lowpass::FindEngine(engine.sameAs) : nullptr;
        all.push_back(Implementation{engine.name, engine.needs, engine.unguarded,
                                     reference != nullptr ? reference->unguarded : ModelOf(engine.arithmetic),
                                     TapsOf(engine.arithmetic), engine.arithmetic == lowpass::Arithmetic::Portable,
                                     reference != nullptr, engine.frontEnds});
    }
    return all;
}

void PrintTo(const Implementation& implementation, std::ostream* out) { *out << implementation.name; }

std::string NameOf(const ::testing::TestParamInfo<Implementation>& info) { return info.param.name; }

std::vector<Implementation> Select(bool (*keep)(const Implementation&)) {
    std::vector<Implementation> kept;
    for (const Implementation& implementation : AllImplementations())
        if (keep(implementation)) kept.push_back(implementation);
    return kept;
}

// One pass of a pair, then what must run after it.
void RunPair(const PassPair& pair, bool across, const PassJob& job) {
    (across ? pair.horizontal : pair.vertical)(job);
    if (pair.afterPasses != nullptr) pair.afterPasses();
}

// ---------------------------------------------------------------------------
// Frames.

// Where a frame lives.
enum class BufferKind {
    Guarded,     // max_w x max_h pixels with guard pixels around the allocation
    TightEnd,    // last picture sample is the last byte before an inaccessible page
    TightStart,  // first picture sample is the first byte after an inaccessible page
};

const char* BufferKindName(BufferKind kind) {
    switch (kind) {
        case BufferKind::Guarded: return "guarded";
        case BufferKind::TightEnd: return "tight (ends at its allocation's end)";
        case BufferKind::TightStart: return "tight (starts at its allocation's start)";
    }
    return "?";
}

// The shape of one case.
struct CaseShape {
    int w, h, maxW, maxH;
    BufferKind kind;
};

// A frame of either kind behind one interface.
class TestBuffer {
public:
    TestBuffer(const CaseShape& shape, std::uint32_t salt) {
        if (shape.kind == BufferKind::Guarded)
            guarded_ = std::make_unique<GuardedFrame>(shape.w, shape.h, shape.maxW, shape.maxH, salt);
        else
            tight_ = std::make_unique<TightFrame>(
                shape.w, shape.h, shape.maxW,
                shape.kind == BufferKind::TightEnd ? TightFrame::Anchor::End : TightFrame::Anchor::Start, salt);
    }
    PIXEL_YC* data() { return guarded_ ? guarded_->data() : tight_->data(); }
    PIXEL_YC& at(int x, int y) { return guarded_ ? guarded_->at(x, y) : tight_->at(x, y); }
    const PIXEL_YC& at(int x, int y) const { return guarded_ ? guarded_->at(x, y) : tight_->at(x, y); }
    bool SentinelsIntact(std::string* where) const {
        return guarded_ ? guarded_->SentinelsIntact(where) : tight_->SentinelsIntact(where);
    }

private:
    std::unique_ptr<GuardedFrame> guarded_;
    std::unique_ptr<TightFrame> tight_;
};

// A frame for a pass in one direction with kernel half-length n: the line
// length along the direction from 2n + 1 up (mostly short, sometimes exactly
// 2n + 1, sometimes long such as 853; below 2n + 1 now and then for an
// implementation that takes any length), the other size small but covering
// partial column groups, a stride mostly wider than the picture.
CaseShape RandomShape(Lcg& rng, int n, bool across, bool anyLength) {
    const int minimum = 2 * n + 1;
    int length;
    const int pick = rng.Range(0, 79);
    if (pick == 0)
        length = 853;
    else if (pick == 1)
        length = rng.Range(100, 400) | 1;
    else if (pick < 10)
        length = anyLength && pick < 5 ? rng.Range(1, 2 * n) : minimum;
    else
        length = minimum + rng.Range(1, 26);
    int other;
    if (across) {
        other = rng.Range(0, 29) == 0 ? rng.Range(5, 12) : rng.Range(1, 3);
    } else {
        // Mostly 1 .. 9 pixels (every kind of partial column group and
        // sample group), now and then wide rows over few rows.
        const int wide = rng.Range(0, 239);
        if (wide < 2) {
            other = wide == 0 ? 853 : rng.Range(40, 120);
            length = minimum + rng.Range(0, 2);
        } else {
            other = length > 100 ? rng.Range(1, 3) : rng.Range(1, 9);
        }
    }
    CaseShape shape{};
    shape.w = across ? length : other;
    shape.h = across ? other : length;
    shape.maxW = rng.Range(0, 7) == 0 ? shape.w : shape.w + rng.Range(1, 9);
    shape.maxH = shape.h + rng.Range(0, 2);
    const int kind = rng.Range(0, 9);
    shape.kind = kind < 2 ? BufferKind::TightEnd : (kind < 3 ? BufferKind::TightStart : BufferKind::Guarded);
    return shape;
}

// Samples over the whole int16 range, or the host's nominal range, or a mix
// of the values where the engines' wrap and saturation begin.
int RandomSample(Lcg& rng, int mode) {
    static const int kEdges[] = {-32768, -32767, -16385, -16384, -8193, -8192, -8191, -1, 0, 1,
                                 8190,   8191,   8192,   8193,   16383, 16384, 32766, 32767};
    switch (mode) {
        case 0: return rng.Range(-32768, 32767);
        case 1: return rng.Range(-2048, 4096);
        case 2: return rng.Range(-8192, 8191);
        default:
            return rng.Range(0, 2) == 0 ? rng.Range(-32768, 32767)
                                        : kEdges[rng.Range(0, static_cast<int>(sizeof kEdges / sizeof kEdges[0]) - 1)];
    }
}

// The picture as plain samples: [(y * w + x) * 3 + c].
struct Picture {
    int w = 0, h = 0;
    std::vector<int> samples;
    int at(int x, int y, int c) const { return samples[(static_cast<std::size_t>(y) * w + x) * 3 + c]; }
    std::vector<int> Line(bool across, int index, int c) const {
        std::vector<int> line;
        for (int p = 0; p < (across ? w : h); ++p) line.push_back(across ? at(p, index, c) : at(index, p, c));
        return line;
    }
};

template <class Frame>
Picture PictureOf(const Frame& frame, int w, int h) {
    Picture picture{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) picture.samples.push_back(Channel(frame.at(x, y), c));
    return picture;
}

template <class Frame>
void Fill(Frame& frame, const Picture& picture) {
    for (int y = 0; y < picture.h; ++y)
        for (int x = 0; x < picture.w; ++x)
            for (int c = 0; c < 3; ++c) SetChannel(frame.at(x, y), c, picture.at(x, y, c));
}

Picture RandomPicture(Lcg& rng, int w, int h) {
    const int mode = rng.Range(0, 3);
    Picture picture{w, h, {}};
    for (int i = 0; i < w * h * 3; ++i) picture.samples.push_back(RandomSample(rng, mode));
    return picture;
}

// The inputs of one output sample, for a mismatch report: the whole line
// when it is short, otherwise the edges and the kernel's window.
std::string DescribeLine(const std::vector<int>& line, int p, int n) {
    std::string text;
    const int length = static_cast<int>(line.size());
    char item[48];
    if (length <= 64) {
        text = "line samples:";
        for (int i = 0; i < length; ++i) {
            std::snprintf(item, sizeof item, i == p ? " [%d]" : " %d", line[i]);
            text += item;
        }
        return text;
    }
    std::snprintf(item, sizeof item, "line of %d: first %d, last %d; window", length, line[0], line[length - 1]);
    text = item;
    for (int i = p - n; i <= p + n; ++i) {
        const int q = i < 0 ? 0 : (i >= length ? length - 1 : i);
        std::snprintf(item, sizeof item, i == p ? " [%d]" : " %d", line[q]);
        text += item;
    }
    return text;
}

std::string DescribeTaps(const KernelTables& tables, Taps taps, int n) {
    static const char* const kNames[] = {"fixedTaps:", "mmxTaps:", "sseTaps:"};
    std::string text = kNames[static_cast<int>(taps)];
    char item[40];
    for (int k = 0; k <= 2 * n; ++k) {
        if (taps == Taps::Fixed)
            std::snprintf(item, sizeof item, " %ld", static_cast<long>(tables.fixedTaps[k]));
        else if (taps == Taps::Mmx)
            std::snprintf(item, sizeof item, " %d", tables.mmxTaps[k][0]);
        else
            std::snprintf(item, sizeof item, " %.9g", static_cast<double>(tables.sseTaps[k][0]));
        text += item;
    }
    return text;
}

// ---------------------------------------------------------------------------
// Tables.

const lowpass::WindowWeights kWindows[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                           lowpass::kHammingWindow, lowpass::kBlackmanWindow};
const char* const kWindowNames[] = {"rectangular", "Hanning", "Hamming", "Blackman"};

float RandomUnit(Lcg& rng) { return static_cast<float>(rng.Next() >> 8) / 16777216.0f; }  // [0, 1), 24 bits

// Random tables for one direction, in all three forms at once: the kernel
// design's own, or each form random of its own kind. 16.16: moderate, or
// any 32-bit value (sums wrap). 2.14: moderate, the full int16 range (sums
// and edge weights wrap), or the extreme values only. float: uniform
// fractions, dyadic fractions (exact sums, many exact ties before the
// conversion), wild magnitudes that saturate and cancel, huge ones that
// overflow to infinity, tiny ones that are subnormal. Returns what it chose.
std::string RandomTables(Lcg& rng, KernelTables& tables, int n, int lineLength) {
    if (rng.Range(0, 4) == 0) {
        const int window = rng.Range(0, 3);
        const int target = rng.Range(1, lineLength);
        lowpass::BuildKernelTables(tables, target / (2.0 * lineLength), n, kWindows[window]);
        return std::string("kernel design (") + kWindowNames[window] + ", target " + std::to_string(target) +
               " of " + std::to_string(lineLength) + ")";
    }
    const int fixedKind = rng.Range(0, 3);
    const int mmxKind = rng.Range(0, 15);
    const int floatKind = rng.Range(0, 31);
    static const int kExtremes[] = {-32768, -32767, -16384, -8192, -1, 0, 1, 8192, 16383, 16384, 32767};
    for (int k = 0; k <= 2 * n; ++k) {
        tables.fixedTaps[k] =
            fixedKind == 0 ? static_cast<std::int32_t>(rng.Next())
                           : static_cast<std::int32_t>(rng.Range(-20000, 70000));
        int mmx;
        if (mmxKind < 7)
            mmx = rng.Range(-4096, 16384);
        else if (mmxKind < 13)
            mmx = rng.Range(-32768, 32767);
        else
            mmx = kExtremes[rng.Range(0, static_cast<int>(sizeof kExtremes / sizeof kExtremes[0]) - 1)];
        float single;
        if (floatKind < 9) {
            single = RandomUnit(rng) - 0.25f;
        } else if (floatKind < 20) {
            single = static_cast<float>(rng.Range(-32, 96)) / 128.0f;
        } else if (floatKind < 28) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-24, 12));
            single = rng.Range(0, 1) ? magnitude : -magnitude;
        } else if (floatKind < 30) {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(100, 127));
            single = rng.Range(0, 2) == 0 ? -magnitude : (rng.Range(0, 1) ? magnitude : RandomUnit(rng));
        } else {
            const float magnitude = std::ldexp(1.0f + RandomUnit(rng), rng.Range(-149, -120));
            single = rng.Range(0, 2) == 0 ? RandomUnit(rng) : (rng.Range(0, 1) ? magnitude : -magnitude);
        }
        for (int lane = 0; lane < 4; ++lane) {
            tables.mmxTaps[k][lane] = static_cast<std::int16_t>(mmx);
            tables.sseTaps[k][lane] = single;
        }
    }
    static const char* const kFixed[] = {"full-range", "moderate"};
    static const char* const kFloat[] = {"uniform", "dyadic", "wild", "huge", "subnormal"};
    const int floatName = floatKind < 9 ? 0 : floatKind < 20 ? 1 : floatKind < 28 ? 2 : floatKind < 30 ? 3 : 4;
    return std::string("random tables (16.16 ") + kFixed[fixedKind == 0 ? 0 : 1] + ", 2.14 " +
           (mmxKind < 7 ? "moderate" : mmxKind < 13 ? "full-range" : "extreme values") + ", float " +
           kFloat[floatName] + ")";
}

// ---------------------------------------------------------------------------
// One case against the model.

// Runs the implementation's pass over a random picture in a frame of the
// shape and its model over a plain copy, and compares every sample; the
// sentinels of both frames must be intact and the source unchanged.
::testing::AssertionResult MatchesModel(const Implementation& implementation, bool across, const CaseShape& shape,
                                        const PassTables& tables, int n, Lcg& rng, const std::string& what) {
    const int w = shape.w, h = shape.h;
    TestBuffer source(shape, 11), destination(shape, 12);
    const Picture input = RandomPicture(rng, w, h);
    Fill(source, input);
    RunPair(implementation.passes, across, tables.Job(source.data(), destination.data(), w, h, shape.maxW, n, across));

    GuardedFrame modelSource(w, h, w, h, 1), modelDestination(w, h, w, h, 2);
    Fill(modelSource, input);
    RunPair(implementation.model, across, tables.Job(modelSource.data(), modelDestination.data(), w, h, w, n, across));

    for (int line = 0; line < (across ? h : w); ++line)
        for (int c = 0; c < 3; ++c)
            for (int p = 0; p < (across ? w : h); ++p) {
                const int x = across ? p : line, y = across ? line : p;
                const int got = Channel(destination.at(x, y), c), want = Channel(modelDestination.at(x, y), c);
                if (got != want)
                    return ::testing::AssertionFailure()
                           << implementation.name << (across ? " across, " : " down, ") << what
                           << ": first differing sample at (x=" << x << ", y=" << y << ", channel " << c
                           << "): implementation " << got << ", model " << want << "\n  w=" << w << " h=" << h
                           << " max_w=" << shape.maxW << " N=" << n << ", " << BufferKindName(shape.kind)
                           << " frames\n  " << DescribeTaps(tables.tables, implementation.taps, n) << "\n  "
                           << DescribeLine(input.Line(across, line, c), p, n);
            }
    std::string where;
    if (!destination.SentinelsIntact(&where))
        return ::testing::AssertionFailure() << implementation.name << " " << what << ", destination: " << where;
    if (!source.SentinelsIntact(&where))
        return ::testing::AssertionFailure() << implementation.name << " " << what << ", source: " << where;
    if (PictureOf(source, w, h).samples != input.samples)
        return ::testing::AssertionFailure() << implementation.name << " " << what << ": the pass changed its source";
    return ::testing::AssertionSuccess();
}

class EnginePasses : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " implementation");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }

    void RandomCases(bool across, std::uint32_t fixedSeed) {
        const Implementation& implementation = GetParam();
        const t::TestSeed seed(fixedSeed);
        Lcg rng(seed);
        const int cases = RandomCaseCount(600);
        int tight = 0;
        for (int i = 0; i < cases; ++i) {
            const int n = 1 + i % 15;
            const CaseShape shape = RandomShape(rng, n, across, implementation.anyLength);
            PassTables tables;
            const std::string kind = RandomTables(rng, tables.tables, n, across ? shape.w : shape.h);
            ASSERT_TRUE(MatchesModel(implementation, across, shape, tables, n, rng,
                                     "random case " + std::to_string(i) + ", " + kind));
            if (shape.kind != BufferKind::Guarded) ++tight;
        }
        std::printf("[ %s %s ] %d random cases (%d in tight frames) equal the model\n", implementation.name,
                    across ? "across" : "down", cases, tight);
    }
};

TEST_P(EnginePasses, AcrossMatchesTheModelOnRandomFrames) { RandomCases(true, 2201); }

TEST_P(EnginePasses, DownMatchesTheModelOnRandomFrames) { RandomCases(false, 2202); }

TEST_P(EnginePasses, EveryKernelSizeAtSmallestAndAwkwardSizes) {
    // Every N at the smallest line, 2N + 1 (N near-edge outputs, one middle
    // output, N far-edge outputs), and a few lengths above (shorter ones too
    // where the implementation takes them); down, 1 to 11 columns (every
    // partial column group and sample group) and rows of 33 and 853 pixels;
    // three kinds of frame.
    const Implementation& implementation = GetParam();
    const t::TestSeed seed(99);
    Lcg rng(seed);
    auto sweep = [&](int n, bool across, int length, int other, BufferKind kind, int slack) {
        const int w = across ? length : other, h = across ? other : length;
        const CaseShape shape{w, h, w + slack, h, kind};
        PassTables tables;
        for (int k = 0; k <= 2 * n; ++k) {
            tables.tables.fixedTaps[k] = rng.Range(-20000, 70000);
            const auto mmx = static_cast<std::int16_t>(rng.Range(-32768, 32767));
            const float single = static_cast<float>(rng.Range(-40, 100)) / 256.0f;
            for (int lane = 0; lane < 4; ++lane) {
                tables.tables.mmxTaps[k][lane] = mmx;
                tables.tables.sseTaps[k][lane] = single;
            }
        }
        return MatchesModel(implementation, across, shape, tables, n, rng, "size sweep");
    };
    for (int n = 1; n <= 15; ++n)
        for (bool across : {true, false})
            for (int extra : {-2 * n, -1, 0, 1, 2, 5, 14}) {
                if (extra < 0 && !implementation.anyLength) continue;
                for (auto kind : {BufferKind::Guarded, BufferKind::TightEnd, BufferKind::TightStart}) {
                    const int other = across ? 2 : 1 + (3 * n + extra) % 11;
                    ASSERT_TRUE(sweep(n, across, 2 * n + 1 + extra, other, kind, kind == BufferKind::Guarded ? 1 : 3));
                }
            }
    for (int w : {33, 853})
        for (int n : {1, 3, 15})
            for (auto kind : {BufferKind::Guarded, BufferKind::TightEnd})
                ASSERT_TRUE(sweep(n, false, 2 * n + 1 + w % 3, w, kind, kind == BufferKind::Guarded ? 7 : 2));
}

// The lines 0 .. lines - 1 cut into random contiguous bands: empty ones,
// ones of a single line, and sometimes an empty band at the very end.
std::vector<std::pair<int, int>> RandomBands(Lcg& rng, int lines) {
    std::vector<std::pair<int, int>> bands;
    for (int first = 0; first < lines;) {
        const int pick = rng.Range(0, 5);
        const int size = pick == 0 ? 0 : (pick == 1 ? 1 : rng.Range(1, lines - first));
        bands.emplace_back(first, first + size);
        first += size;
    }
    if (rng.Range(0, 3) == 0) bands.emplace_back(lines, lines);
    for (std::size_t i = bands.size(); i > 1; --i)
        std::swap(bands[i - 1], bands[static_cast<std::size_t>(rng.Range(0, static_cast<int>(i) - 1))]);
    return bands;
}

TEST_P(EnginePasses, BandsInAnyOrderGiveTheWholePassAndWriteOnlyTheirLines) {
    // The driver hands each band of lines to a thread of its own: a band
    // must produce exactly its lines as the whole pass does, and write
    // nothing else (the lines of other bands keep a marker until their band
    // runs).
    const Implementation& implementation = GetParam();
    const t::TestSeed seed(4401);
    Lcg rng(seed);
    const int cases = std::min(RandomCaseCount(200), 200);
    for (int i = 0; i < cases; ++i) {
        const bool across = i % 2 == 0;
        const int n = 1 + rng.Range(0, 14);
        const CaseShape shape = RandomShape(rng, n, across, implementation.anyLength);
        const int w = shape.w, h = shape.h, lines = across ? h : w;
        PassTables tables;
        const std::string kind = RandomTables(rng, tables.tables, n, across ? w : h);
        TestBuffer source(shape, 21), whole(shape, 22), banded(shape, 23);
        const Picture input = RandomPicture(rng, w, h);
        Fill(source, input);
        RunPair(implementation.passes, across, tables.Job(source.data(), whole.data(), w, h, shape.maxW, n, across));
        const Picture want = PictureOf(whole, w, h);
        Picture marker{w, h, {}};
        for (int s = 0; s < w * h * 3; ++s)
            marker.samples.push_back(static_cast<int>((static_cast<unsigned>(s) * 40503u + 12345u) & 0xffffu) - 32768);
        Fill(banded, marker);

        const std::vector<std::pair<int, int>> bands = RandomBands(rng, lines);
        std::vector<bool> done(static_cast<std::size_t>(lines), false);
        std::string order;
        for (const auto& [first, end] : bands) {
            order += " [" + std::to_string(first) + ", " + std::to_string(end) + ")";
            PassJob job = tables.Job(source.data(), banded.data(), w, h, shape.maxW, n, across);
            job.first = first;
            job.end = end;
            RunPair(implementation.passes, across, job);
            for (int line = first; line < end; ++line) done[static_cast<std::size_t>(line)] = true;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    for (int c = 0; c < 3; ++c) {
                        const bool produced = done[static_cast<std::size_t>(across ? y : x)];
                        const int expected = produced ? want.at(x, y, c) : marker.at(x, y, c);
                        ASSERT_EQ(Channel(banded.at(x, y), c), expected)
                            << implementation.name << (across ? " across" : " down") << ", case " << i << ", "
                            << kind << ": at (x=" << x << ", y=" << y << ", channel " << c << ") after the bands"
                            << order << (produced ? " (the whole pass gives this)" : " (no band has written this yet)")
                            << "\n  w=" << w << " h=" << h << " max_w=" << shape.maxW << " N=" << n << ", "
                            << BufferKindName(shape.kind) << " frames";
                    }
        }
        std::string where;
        ASSERT_TRUE(banded.SentinelsIntact(&where)) << implementation.name << " case " << i << ", bands" << order
                                                    << ": " << where;
        ASSERT_TRUE(source.SentinelsIntact(&where)) << implementation.name << " case " << i << ": " << where;
    }
}

TEST_P(EnginePasses, LongRowsAndFramesOfManyStripsAndRowBlocks) {
    // The SSE2 and AVX2 passes widen a row in segments of up to 3072
    // samples, and walk a band down in strips (a few hundred samples wide,
    // narrower the longer the kernel) within blocks of 256 rows: rows of up
    // to 1920 pixels, with the middle run a few samples either side of a
    // segment's end; frames wide and tall enough for several strips and
    // blocks, with bands that start and end anywhere.
    const Implementation& implementation = GetParam();
    const t::TestSeed seed(4103);
    Lcg rng(seed);
    int cases = 0;
    for (int n : {1, 3, 8, 15}) {
        for (int w : {1024 + 2 * n - 1, 1024 + 2 * n, 1024 + 2 * n + 1, 1920}) {
            const CaseShape shape{w, 2, w + rng.Range(0, 3), 2, w == 1920 ? BufferKind::TightEnd : BufferKind::Guarded};
            PassTables tables;
            const std::string kind = RandomTables(rng, tables.tables, n, w);
            ASSERT_TRUE(MatchesModel(implementation, true, shape, tables, n, rng, "long row, " + kind));
            ++cases;
        }
        if (n < 8) continue;
        for (int h : {2 * n + 1 + 256, 560}) {
            const int w = rng.Range(200, 300);
            const CaseShape shape{w, h, w + rng.Range(0, 3), h, h == 560 ? BufferKind::TightEnd : BufferKind::Guarded};
            PassTables tables;
            const std::string kind = RandomTables(rng, tables.tables, n, h);
            ASSERT_TRUE(MatchesModel(implementation, false, shape, tables, n, rng, "tall frame, " + kind));
            ++cases;
        }
    }
    std::printf("[ %s long rows, tall frames ] %d cases equal the model\n", implementation.name, cases);
}

INSTANTIATE_TEST_SUITE_P(Implementations, EnginePasses, ::testing::ValuesIn(AllImplementations()), NameOf);

// ---------------------------------------------------------------------------
// The float arithmetic at its limits: the conversion under the thread's
// rounding control, and sums beyond the int32 range.

bool ReadsFloatTaps(const Implementation& implementation) { return implementation.taps == Taps::Float; }

// Checked against another implementation (which follows the thread's
// rounding control as it does), not against a plain model (which rounds to
// nearest whatever the control says).
bool ChecksAgainstAnImplementation(const Implementation& implementation) {
    return implementation.taps == Taps::Float && implementation.modelIsAnEngine;
}

// The thread's MXCSR, read and written with the plain instructions (this
// file is built without SSE in the 32-bit configurations; it runs them only
// where SSE is usable).
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
} kRoundingModes[] = {{1u << 13, "down"}, {2u << 13, "up"}, {3u << 13, "toward zero"}};

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

class FloatArithmetic : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " implementation");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }
};

TEST_P(FloatArithmetic, PositiveSumBeyondInt32GivesMinus32768) {
    // c[N] = 2^17 on 32767 gives 4294836224: outside int32, the conversion
    // gives 0x80000000, which saturates to -32768, not 32767; on -32768 it
    // gives -2^32, -32768 as well. Every output of both passes.
    PassTables tables;
    for (int k = 0; k < 3; ++k)
        for (int lane = 0; lane < 4; ++lane) tables.tables.sseTaps[k][lane] = k == 1 ? 131072.0f : 0.0f;
    for (bool across : {true, false}) {
        const int length = 40, other = 3;
        const int w = across ? length : other, h = across ? other : length;
        GuardedFrame source(w, h, w + 1, h, 1), destination(w, h, w + 1, h, 2);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) source.at(x, y) = PIXEL_YC{32767, -32768, 1};
        RunPair(GetParam().passes, across, tables.Job(source.data(), destination.data(), w, h, w + 1, 1, across));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const PIXEL_YC& p = destination.at(x, y);
                ASSERT_TRUE(p.y == -32768 && p.cb == -32768 && p.cr == 32767)
                    << GetParam().name << (across ? " across" : " down") << " at (x=" << x << ", y=" << y
                    << "): " << p.y << ", " << p.cb << ", " << p.cr << " (want -32768, -32768, 32767)";
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Implementations, FloatArithmetic, ::testing::ValuesIn(Select(ReadsFloatTaps)), NameOf);

class FloatRounding : public FloatArithmetic {};

TEST_P(FloatRounding, ConversionFollowsTheThreadsRoundingControl) {
    // Under each non-default rounding mode the implementation equals the
    // reference under the same mode, on random frames; and the modes do
    // change frames (against round to nearest), so an implementation that
    // rounded its own way would be caught. MXCSR is restored after each
    // case.
    const Implementation& implementation = GetParam();
    const int cases = RandomCaseCount(150);
    long long changed[3] = {0, 0, 0};
    // Case i's shape and taps, samples, and model frames from three streams.
    const t::TestSeed seed(7100);
    for (int i = 0; i < cases; ++i) {
        const bool across = i % 2 == 0;
        const int n = 1 + i / 2 % 15;
        Lcg shapes(seed + static_cast<std::uint32_t>(i));
        const CaseShape shape = RandomShape(shapes, n, across, false);
        PassTables tables;
        for (int k = 0; k <= 2 * n; ++k) {
            const float tap = static_cast<float>(shapes.Range(-32, 96)) / 128.0f;
            for (int lane = 0; lane < 4; ++lane) tables.tables.sseTaps[k][lane] = tap;
        }
        const int w = shape.w, h = shape.h;
        Lcg samples(seed + 100 + static_cast<std::uint32_t>(i));
        const Picture input = RandomPicture(samples, w, h);
        GuardedFrame source(w, h, w, h, 1), nearest(w, h, w, h, 2);
        Fill(source, input);
        RunPair(implementation.passes, across, tables.Job(source.data(), nearest.data(), w, h, w, n, across));
        for (int m = 0; m < 3; ++m) {
            RoundingMode mode(kRoundingModes[m].bits);
            Lcg rng(seed + 200 + static_cast<std::uint32_t>(i));
            ASSERT_TRUE(MatchesModel(implementation, across, shape, tables, n, rng,
                                     std::string("rounding ") + kRoundingModes[m].name + ", case " + std::to_string(i)));
            GuardedFrame rounded(w, h, w, h, 3);
            RunPair(implementation.passes, across, tables.Job(source.data(), rounded.data(), w, h, w, n, across));
            const Picture a = PictureOf(nearest, w, h), b = PictureOf(rounded, w, h);
            for (std::size_t s = 0; s < a.samples.size(); ++s) changed[m] += a.samples[s] != b.samples[s];
        }
        ASSERT_EQ(ReadMxcsr() & kRoundingMask, 0u) << "MXCSR's rounding control was not restored";
    }
    std::printf("[ %s ] %d cases under each rounding mode equal the reference; samples unlike round to nearest's: "
                "down %lld, up %lld, toward zero %lld\n",
                implementation.name, cases, changed[0], changed[1], changed[2]);
    for (int m = 0; m < 3; ++m) EXPECT_GT(changed[m], 0) << "rounding " << kRoundingModes[m].name << " changed nothing";
}

INSTANTIATE_TEST_SUITE_P(Implementations, FloatRounding, ::testing::ValuesIn(Select(ChecksAgainstAnImplementation)),
                         NameOf);

// ---------------------------------------------------------------------------
// Both passes at once: the frame driver with an implementation's fused
// entry gives, byte for byte, its model's horizontal pass followed by its
// model's vertical pass; the blocks run as bands in any order and any
// number; the picture's rows are read only before they are overwritten, and
// temp is written only at the rows near block boundaries.

bool HasFusedPasses(const Implementation& implementation) { return implementation.passes.fused != nullptr; }

// A band runner that runs its bands one after another in a random order.
struct ShuffledBands {
    int bands;
    Lcg* rng;
    static bool Run(void* context, lowpass::BandBody body, void* argument) {
        const auto& self = *static_cast<const ShuffledBands*>(context);
        std::vector<int> order;
        for (int band = 0; band < self.bands; ++band) order.push_back(band);
        for (std::size_t i = order.size(); i > 1; --i)
            std::swap(order[i - 1], order[static_cast<std::size_t>(self.rng->Range(0, static_cast<int>(i) - 1))]);
        for (int band : order) body(band, self.bands, argument);
        return true;
    }
};

class EngineFused : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " implementation");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }

    // One frame through the driver: random picture and tables (in both
    // directions), `bands` bands in random order, under a rounding mode.
    // Spiky: small samples with a rare extreme one, taps across of about 1
    // in magnitude, so that a sum saturates only where an extreme sample
    // is within its reach.
    ::testing::AssertionResult Check(const CaseShape& shape, int n, int bands, int rounding, Lcg& rng,
                                     bool spiky = false) {
        const Implementation& implementation = GetParam();
        const int w = shape.w, h = shape.h;
        lowpass::KernelCache cache{};
        std::string across = RandomTables(rng, cache.horizontal, n, w);
        const std::string down = RandomTables(rng, cache.vertical, n, h);
        if (spiky) {
            for (int k = 0; k <= 2 * n; ++k) {
                const float tap = (rng.Range(0, 1) ? 1.0f : -1.0f) * (0.75f + RandomUnit(rng));
                for (float& lane : cache.horizontal.sseTaps[k]) lane = tap;
            }
            across = "taps of magnitude 0.75 .. 1.75, small samples with rare extreme ones";
        }
        for (float& bias : cache.roundingBias) bias = 0.5f;
        const lowpass::KernelSettings settings{w - 1, h - 1, n, lowpass::kBlackmanWindow};
        cache.valid = 1;
        cache.width = w;
        cache.height = h;
        cache.settings = settings;

        TestBuffer edit(shape, 31), temp(shape, 32);
        Picture input = RandomPicture(rng, w, h);
        if (spiky)
            for (int& sample : input.samples)
                sample = rng.Range(0, 599) == 0 ? (rng.Range(0, 1) ? 32767 : -32768) : rng.Range(-60, 60);
        Fill(edit, input);
        Picture marker{w, h, {}};
        for (int i = 0; i < w * h * 3; ++i) marker.samples.push_back(rng.Range(-32768, 32767));
        Fill(temp, marker);

        ShuffledBands shuffled{bands, &rng};
        const lowpass::BandRunner runner{ShuffledBands::Run, &shuffled};
        const lowpass::FrameContext context{&cache, nullptr, &runner};
        lowpass::FrameBuffers frame{edit.data(), temp.data(), w, h, shape.maxW};
        {
            std::unique_ptr<RoundingMode> mode;
            if (rounding >= 0) mode = std::make_unique<RoundingMode>(kRoundingModes[rounding].bits);
            lowpass::RunFramePasses(context, settings, frame, implementation.passes);
        }
        GuardedFrame modelSource(w, h, w, h, 1), modelMiddle(w, h, w, h, 2), modelResult(w, h, w, h, 3);
        Fill(modelSource, input);
        {
            std::unique_ptr<RoundingMode> mode;
            if (rounding >= 0) mode = std::make_unique<RoundingMode>(kRoundingModes[rounding].bits);
            RunPair(implementation.model, true,
                    PassJob{modelSource.data(), modelMiddle.data(), w, h, w, n, &cache.horizontal, cache.roundingBias, 0, h});
            RunPair(implementation.model, false,
                    PassJob{modelMiddle.data(), modelResult.data(), w, h, w, n, &cache.vertical, cache.roundingBias, 0, w});
        }

        const std::string what = std::string(implementation.name) + " fused, w=" + std::to_string(w) + " h=" +
                                 std::to_string(h) + " max_w=" + std::to_string(shape.maxW) + " N=" + std::to_string(n) +
                                 ", " + std::to_string(bands) + " bands, " + BufferKindName(shape.kind) + " frames, " +
                                 (rounding < 0 ? "round to nearest" : kRoundingModes[rounding].name) + "\n  across: " +
                                 across + "\n  down: " + down;
        const lowpass::FusedBlocks blocks(h, n);
        if (frame.edit != edit.data() || frame.temp != temp.data())
            return ::testing::AssertionFailure() << what << ": the result is not in the buffer that was edit";
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int got = Channel(edit.at(x, y), c), want = Channel(modelResult.at(x, y), c);
                    if (got != want)
                        return ::testing::AssertionFailure()
                               << what << "\n  first differing sample at (x=" << x << ", y=" << y << ", channel " << c
                               << "): " << got << ", the two passes " << want << " (horizontal pass there "
                               << Channel(modelMiddle.at(x, y), c) << ")\n  column of horizontal results: "
                               << DescribeLine(PictureOf(modelMiddle, w, h).Line(false, x, c), y, n);
                    const bool nearBoundary = blocks.NearBoundary(y);
                    if (!nearBoundary && Channel(temp.at(x, y), c) != marker.at(x, y, c))
                        return ::testing::AssertionFailure()
                               << what << ": temp written at (x=" << x << ", y=" << y << "), a row far from every "
                               << "block boundary (did both passes run instead?)";
                }
        std::string where;
        if (!edit.SentinelsIntact(&where)) return ::testing::AssertionFailure() << what << ", edit: " << where;
        if (!temp.SentinelsIntact(&where)) return ::testing::AssertionFailure() << what << ", temp: " << where;
        return ::testing::AssertionSuccess();
    }
};

TEST_P(EngineFused, EqualsTheTwoPassesOfTheModel) {
    // Heights on both sides of block boundaries: exactly 2N + 1 rows (one
    // block), 4N + 1 (a second block of 2N rows, all of them near the
    // boundary but N), 4N + 2, two blocks of 64 and of 65 rows, two of
    // 192, four or six blocks; widths from 2N + 1 (one strip, both edge
    // runs in it) to rows of several strips (the samples kept from one
    // strip for the next), odd ones; strides wider than the row; random
    // tables that saturate, overflow and cancel; 1 to 8 bands in random
    // order; now and then another rounding mode.
    const Implementation& implementation = GetParam();
    const int largest = implementation.passes.fusedTaps;
    const t::TestSeed seed(6601);
    Lcg rng(seed);
    int cases = 0;
    for (int n = 1; n <= largest; ++n) {
        const int heights[] = {2 * n + 1, 4 * n + 1, 4 * n + 2, 128, 129 + 2 * n, 383, rng.Range(384, 500),
                               rng.Range(640, 900)};
        for (int i = 0; i < static_cast<int>(sizeof heights / sizeof heights[0]); ++i) {
            const int h = heights[i];
            const int pick = rng.Range(0, 5);
            const int w = pick == 0 ? 2 * n + 1 : (pick == 1 ? rng.Range(700, 1920) : rng.Range(2 * n + 2, 160));
            const int kind = rng.Range(0, 5);
            const CaseShape shape{w, h, w + (rng.Range(0, 2) == 0 ? 0 : rng.Range(1, 9)), h,
                                  kind == 0 ? BufferKind::TightEnd
                                            : (kind == 1 ? BufferKind::TightStart : BufferKind::Guarded)};
            const int rounding = t::ProcessorHasSse() && rng.Range(0, 4) == 0 ? rng.Range(0, 2) : -1;
            ASSERT_TRUE(Check(shape, n, 1 + (n + i) % 8, rounding, rng));
            ++cases;
        }
    }
    std::printf("[ %s fused ] %d frames, N = 1 .. %d, equal the two passes of the model\n", implementation.name, cases,
                largest);
}

TEST_P(EngineFused, EveryBandCountGivesTheSameFrame) {
    // Four blocks, 1 to 8 bands (some with no block, some with one, the
    // blocks in random order), rows of several strips.
    const t::TestSeed seed(6602);
    Lcg rng(seed);
    for (int bands = 1; bands <= 8; ++bands) {
        const int n = 1 + (bands - 1) % GetParam().passes.fusedTaps;
        const CaseShape shape{641, 520, 650, 520, BufferKind::TightEnd};
        ASSERT_EQ(lowpass::FusedBlocks(shape.h, n).count(), 4);
        ASSERT_TRUE(Check(shape, n, bands, -1, rng));
    }
}

TEST_P(EngineFused, SaturatesWhereAnExtremeSampleIsInReach) {
    // The fused pass rounds a horizontal sum without saturating it where no
    // sample it reads can take it out of the int16 range: rare extreme
    // samples among small ones, some within reach of a strip's first
    // outputs from the strip before, must still saturate the sums they
    // reach. Rows of many strips, every N.
    const t::TestSeed seed(6603);
    Lcg rng(seed);
    for (int n = 1; n <= GetParam().passes.fusedTaps; ++n) {
        const CaseShape shape{1920, 100, 1920, 100, BufferKind::Guarded};
        ASSERT_TRUE(Check(shape, n, 1, -1, rng, true));
    }
}

INSTANTIATE_TEST_SUITE_P(Implementations, EngineFused, ::testing::ValuesIn(Select(HasFusedPasses)), NameOf);

// ---------------------------------------------------------------------------
// Through the plug-in's frame entry, for the engines the 1.x plug-in may
// use.

bool IsPlugInEngine(const Implementation& implementation) {
    return (implementation.frontEnds & lowpass::kFrontEndAuf) != 0;
}

class EngineDriver : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        savedCache_ = lowpass::kernelCache;
        savedWeights_ = lowpass::windowWeights;
        savedCaps_ = lowpass::cpuCaps;
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " engine");
        if (!missing.empty()) GTEST_SKIP() << missing;
        lowpass::cpuCaps = lowpass::testing::ProcessorCaps();
    }
    void TearDown() override {
        lowpass::kernelCache = savedCache_;
        lowpass::windowWeights = savedWeights_;
        lowpass::cpuCaps = savedCaps_;
    }

    const lowpass::Engine& engine() const { return *lowpass::FindEngine(GetParam().name); }
    FilterProcFunc proc() const { return lowpass::FrameProcFor(engine()); }

    // Runs the engine's frame entry on a w x h frame (stride maxW, maxH rows)
    // with target X, Y and N taps, Blackman, and checks the result against
    // the model in each direction whose pass runs (the portable pass where
    // a line is shorter than the kernel), the buffer exchange and the
    // sentinels; where `unlikePortable`, the result must not be the
    // portable engine's (the engine ran).
    void CheckDriverRun(int w, int h, int maxW, int maxH, int x, int y, int n, bool unlikePortable) {
        const Implementation& implementation = GetParam();
        StandInHost host;
        host.SetTrack(x, y, n);
        lowpass::windowWeights = lowpass::kBlackmanWindow;
        lowpass::InvalidateKernelCache(lowpass::kernelCache);
        FramePair frames(w, h, maxW, maxH);
        const t::TestSeed seed(static_cast<std::uint32_t>(w * 31 + h));
        frames.edit.FillRandom(seed, -2048, 4096);
        GuardedFrame source(w, h, maxW, maxH, 9);
        source.CopyPicture(frames.edit);

        EXPECT_EQ(proc()(&host.filter, &frames.info), TRUE);
        const bool runAcross = w > x, runDown = h > y;
        EXPECT_EQ(frames.ResultIsOriginalEdit(), runAcross == runDown);

        lowpass::KernelCache cache{};
        lowpass::RebuildKernel(cache, lowpass::KernelSettings{x, y, n, lowpass::kBlackmanWindow}, w, h);
        auto expected = std::make_unique<GuardedFrame>(w, h, w, h, 1);
        expected->CopyPicture(source);
        for (bool across : {true, false}) {
            if (!(across ? runAcross : runDown)) continue;
            auto next = std::make_unique<GuardedFrame>(w, h, w, h, 2);
            const PassPair& pair = (across ? w : h) >= 2 * n + 1 ? implementation.model
                                                                  : lowpass::PortableEngine().passes;
            RunPair(pair, across,
                PassJob{expected->data(), next->data(), w, h, w, n, across ? &cache.horizontal : &cache.vertical,
                        cache.roundingBias, 0, across ? h : w});
            expected = std::move(next);
        }
        const std::string label = std::string(implementation.name) + " frame entry, " + std::to_string(w) + "x" +
                                  std::to_string(h) + " X=" + std::to_string(x) + " Y=" + std::to_string(y) +
                                  " N=" + std::to_string(n);
        std::string where;
        EXPECT_TRUE(frames.Result().PictureEquals(*expected, &where)) << label << ": " << where;
        EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << label << ": " << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << label << ": " << where;

        if (unlikePortable && &engine() != &lowpass::PortableEngine()) {
            FramePair portable(w, h, maxW, maxH);
            portable.edit.CopyPicture(source);
            lowpass::ProcPortable(&host.filter, &portable.info);
            EXPECT_FALSE(portable.Result().PictureEquals(frames.Result())) << label << ": the engine did not run";
        }
    }

private:
    lowpass::KernelCache savedCache_{};
    lowpass::WindowWeights savedWeights_{};
    int savedCaps_ = 0;
};

TEST_P(EngineDriver, RunsBothPassesLikeTheModel) {
    CheckDriverRun(161, 97, 170, 99, 100, 60, 3, true);
    CheckDriverRun(121, 67, 121, 67, 64, 33, 15, true);
}

TEST_P(EngineDriver, RunsOnlyTheDirectionsThatExceedTheTarget) {
    CheckDriverRun(161, 50, 165, 52, 100, 60, 4, true);   // across only
    CheckDriverRun(90, 97, 93, 97, 100, 60, 4, true);     // down only
    CheckDriverRun(100, 60, 104, 61, 100, 60, 4, false);  // none: the frame is returned untouched
}

TEST_P(EngineDriver, HandsLinesShorterThanTheKernelToThePortablePass) {
    // X and Y as a SizeRequest can set them: every frame is too large, and
    // a line shorter than 2N + 1 = 31 has no room for the vector passes.
    // (X = Y = 1 rather than 0, so that the cutoff is not 0 and the kernel
    // not a unit impulse.)
    CheckDriverRun(20, 45, 24, 46, 1, 1, 15, true);  // rows short, columns long
    CheckDriverRun(45, 7, 45, 9, 1, 1, 15, true);    // columns short
    CheckDriverRun(3, 2, 5, 2, 1, 1, 15, false);     // both short: portable only
    CheckDriverRun(31, 31, 33, 31, 1, 1, 15, true);  // exactly 2N + 1 both ways
}

TEST_P(EngineDriver, DamagedNegativeTargetIsTakenAsZero) {
    // A stored X or Y below 0 can only come from a damaged project. It is
    // taken as 0 (cutoff 0, whose kernel is the unit impulse), not designed
    // into a kernel that sums to less than 0 and amplifies: N = 15,
    // rectangular, 64 x 64. A picture of steps between 0 and 4096 (even
    // samples, which every engine's unit impulse gives back) must come back
    // unchanged; a random picture as with a target of 0. Both through the
    // plug-in's frame entry and through the frame driver itself, which
    // other front ends call with their own settings.
    const int w = 64, h = 64, stride = 67, n = 15;
    lowpass::windowWeights = lowpass::kRectangularWindow;
    const t::TestSeed seed(17);
    Lcg rng(seed);
    Picture steps{w, h, {}}, random{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int v = (x >= 20) != (y >= 40) ? 4096 : 0;
            for (int s : {v, v - 2048, 2048 - v}) steps.samples.push_back(s);
            for (int c = 0; c < 3; ++c) random.samples.push_back(rng.Range(-2048, 4096));
        }
    auto throughEntry = [&](const Picture& picture, int x, int y) {
        StandInHost host;
        host.SetTrack(x, y, n);
        auto frames = std::make_unique<FramePair>(w, h, stride, h);
        Fill(frames->edit, picture);
        proc()(&host.filter, &frames->info);
        return PictureOf(frames->Result(), w, h);
    };
    auto throughDriver = [&](const Picture& picture, int x, int y) {
        lowpass::KernelCache cache{};
        const bool mmx = (lowpass::testing::ProcessorCaps() & lowpass::kCpuCapsMmx) != 0;
        const lowpass::FrameContext context{&cache, mmx ? lowpass::ClearMmxState : nullptr, nullptr};
        FramePair frames(w, h, stride, h);
        Fill(frames.edit, picture);
        lowpass::FrameBuffers buffers{frames.info.ycp_edit, frames.info.ycp_temp, w, h, stride};
        lowpass::RunFramePasses(context, lowpass::KernelSettings{x, y, n, lowpass::kRectangularWindow}, buffers,
                                engine().passes);
        Picture result{w, h, {}};
        for (int py = 0; py < h; ++py)
            for (int px = 0; px < w; ++px)
                for (int c = 0; c < 3; ++c)
                    result.samples.push_back(Channel(buffers.edit[py * stride + px], c));
        return result;
    };
    auto firstDifference = [&](const Picture& got, const Picture& want) {
        for (std::size_t i = 0; i < got.samples.size(); ++i)
            if (got.samples[i] != want.samples[i])
                return "at (x=" + std::to_string(i / 3 % w) + ", y=" + std::to_string(i / 3 / w) + ", channel " +
                       std::to_string(i % 3) + "): " + std::to_string(got.samples[i]) + ", not " +
                       std::to_string(want.samples[i]);
        return std::string();
    };
    EXPECT_EQ(firstDifference(throughEntry(steps, 0, 0), steps), "") << GetParam().name << ", X = Y = 0";
    const int damaged[][2] = {{-5, 0}, {0, INT_MIN}, {INT_MIN, -5}};
    for (const Picture* picture : {&steps, &random}) {
        const Picture sound = throughEntry(*picture, 0, 0);
        for (const auto& target : damaged) {
            const std::string label = std::string(GetParam().name) + (picture == &steps ? ", steps" : ", random") +
                                      ", X = " + std::to_string(target[0]) + ", Y = " + std::to_string(target[1]);
            EXPECT_EQ(firstDifference(throughEntry(*picture, target[0], target[1]), sound), "")
                << label << ", frame entry";
            EXPECT_EQ(firstDifference(throughDriver(*picture, target[0], target[1]), sound), "")
                << label << ", frame driver";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(PlugInEngines, EngineDriver, ::testing::ValuesIn(Select(IsPlugInEngine)), NameOf);

// ---------------------------------------------------------------------------
// How far the vector arithmetic lies from the portable engine's, per pass,
// on frames from real kernel designs with samples in the host's nominal
// range (y 0 .. 4096, cb and cr -2048 .. 2048).
//
// The bounds were measured over about 80,000 such frames (all four windows,
// N 1 .. 15, random sizes up to 900 and random targets; HACKING.md, How far the
// engines differ): the MMX engine floors every product, so it runs low, the
// more so the more taps there are, and was never above the portable engine;
// the float arithmetic rounds once, at the end, and stayed within -1 .. +2.
// Run with LOWPASS_RANDOM_CASES set to many frames, the test measures again
// (it prints what it saw) and stops at the first sample outside the bounds.

bool ReadsVectorTaps(const Implementation& implementation) { return implementation.taps != Taps::Fixed; }

constexpr int kMmxMostBelow[lowpass::kMaxTaps + 1] = {0, 3, 5, 7, 9, 11, 12, 14, 15, 17, 18, 20, 22, 23, 24, 25};

class EngineBound : public ::testing::TestWithParam<Implementation> {
protected:
    void SetUp() override {
        const std::string missing =
            lowpass::testing::MissingCaps(GetParam().needs, std::string("the ") + GetParam().name + " implementation");
        if (!missing.empty()) GTEST_SKIP() << missing;
    }
};

TEST_P(EngineBound, StaysWithinTheMeasuredDistanceOfThePortableEngine) {
    const Implementation& implementation = GetParam();
    const t::TestSeed seed(5501);
    Lcg rng(seed);
    const int frames = RandomCaseCount(240);
    int lowest[lowpass::kMaxTaps + 1] = {}, highest[lowpass::kMaxTaps + 1] = {};
    for (int i = 0; i < frames; ++i) {
        const int window = i % 4, n = 1 + i / 4 % 15;
        const int w = rng.Range(2 * n + 1, 100), h = rng.Range(2 * n + 1, 100), stride = w + rng.Range(0, 3);
        const int x = rng.Range(1, w - 1), y = rng.Range(1, h - 1);
        GuardedFrame source(w, h, stride, h, 3);
        for (int py = 0; py < h; ++py)
            for (int px = 0; px < w; ++px)
                source.at(px, py) = PIXEL_YC{static_cast<std::int16_t>(rng.Range(0, 4096)),
                                             static_cast<std::int16_t>(rng.Range(-2048, 2048)),
                                             static_cast<std::int16_t>(rng.Range(-2048, 2048))};
        for (bool across : {true, false}) {
            PassTables tables;
            const int target = across ? x : y, length = across ? w : h;
            lowpass::BuildKernelTables(tables.tables, target / (2.0 * length), n, kWindows[window]);
            GuardedFrame engine(w, h, stride, h, 4), portable(w, h, stride, h, 5);
            RunPair(implementation.passes, across, tables.Job(source.data(), engine.data(), w, h, stride, n, across));
            RunPair(lowpass::PortableEngine().passes, across,
                tables.Job(source.data(), portable.data(), w, h, stride, n, across));
            const int low = implementation.taps == Taps::Mmx ? -kMmxMostBelow[n] : -1;
            const int high = implementation.taps == Taps::Mmx ? 0 : 2;
            for (int py = 0; py < h; ++py)
                for (int px = 0; px < w; ++px)
                    for (int c = 0; c < 3; ++c) {
                        const int d = Channel(engine.at(px, py), c) - Channel(portable.at(px, py), c);
                        lowest[n] = std::min(lowest[n], d);
                        highest[n] = std::max(highest[n], d);
                        ASSERT_TRUE(d >= low && d <= high)
                            << implementation.name << (across ? " across" : " down") << " at (x=" << px
                            << ", y=" << py << ", channel " << c << "): " << Channel(engine.at(px, py), c)
                            << " against the portable engine's " << Channel(portable.at(px, py), c) << ", "
                            << d << " outside " << low << " .. " << high << "\n  " << kWindowNames[window]
                            << ", N=" << n << ", w=" << w << " h=" << h << ", target " << target << "\n  "
                            << DescribeLine(PictureOf(source, w, h).Line(across, across ? py : px, c),
                                            across ? px : py, n);
                    }
        }
    }
    std::printf("[ %s against the portable engine, per pass, %d frames ] N=1..15:", implementation.name, frames);
    for (int n = 1; n <= lowpass::kMaxTaps; ++n) std::printf(" %d..%d", lowest[n], highest[n]);
    std::printf("\n");
}

INSTANTIATE_TEST_SUITE_P(VectorArithmetic, EngineBound, ::testing::ValuesIn(Select(ReadsVectorTaps)), NameOf);

}  // namespace

// --- The float passes of the 64-bit plug-in ---------------------------------
//
// Every image engine of the registry (ImageEngines()) against a plain model of the
// arithmetic written here: the terms of an output listed first (the end
// sample's weight summed from the outermost tap inward), then added in
// their order; the half conversions by way of double and a table of every
// half. Bit for bit, with sentinels around every output and sources of
// exactly their size (the sanitizer build sees a read past one).
#if defined(__x86_64__)

#include "aviutl2/band_pool.h"
#include "aviutl2/hf64_filter.h"
#include "core/float_pass.h"

namespace {

using lowpass::FloatFinish;
using lowpass::FloatTaps;
using lowpass::kFloatLanes;

std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
float FromBits(std::uint32_t b) {
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// --- the model

// A half's value, by its definition.
double ModelHalfValue(std::uint16_t h) {
    const int e = (h >> 10) & 31;
    const int m = h & 1023;
    const double sign = (h & 0x8000) ? -1.0 : 1.0;
    if (e == 0) return sign * std::ldexp(m, -24);
    if (e == 31) return m == 0 ? sign * INFINITY : NAN;
    return sign * std::ldexp(1024 + m, e - 25);
}

float ModelHalfToFloat(std::uint16_t h) {
    if ((h & 0x7C00) == 0x7C00 && (h & 0x3FF) != 0)  // NaN: quiet, payload on top
        return FromBits(static_cast<std::uint32_t>(h & 0x8000) << 16 | 0x7FC00000u |
                        static_cast<std::uint32_t>(h & 0x3FF) << 13);
    return static_cast<float>(ModelHalfValue(h));  // exact: every half is a float
}

std::uint16_t ModelFloatToHalf(float f) {
    const std::uint16_t sign = std::signbit(f) ? 0x8000 : 0;
    if (std::isnan(f)) return static_cast<std::uint16_t>(sign | 0x7E00 | ((Bits(f) >> 13) & 0x3FF));
    const double a = std::fabs(static_cast<double>(f));
    if (!(a < 65520.0)) return static_cast<std::uint16_t>(sign | 0x7C00);  // 65504 and half its spacing: infinity
    // The nearest multiple of the half spacing at this magnitude, ties to
    // even (the default rounding of nearbyint).
    const double spacing = a < std::ldexp(1.0, -14) ? std::ldexp(1.0, -24) : std::ldexp(1.0, std::ilogb(a) - 10);
    const double rounded = std::nearbyint(a / spacing) * spacing;
    if (rounded >= 65536.0) return static_cast<std::uint16_t>(sign | 0x7C00);
    // The half with that value: positive halves ascend with their bits.
    std::uint16_t low = 0, high = 0x7BFF;
    while (low < high) {
        const std::uint16_t mid = static_cast<std::uint16_t>((low + high) / 2);
        if (ModelHalfValue(mid) < rounded) low = static_cast<std::uint16_t>(mid + 1);
        else high = mid;
    }
    return static_cast<std::uint16_t>(sign | low);
}

struct ModelTerm {
    int position;
    float weight;
};

// Taps at distance j .. n, from the outermost inward.
float ModelEndWeight(const std::vector<float>& tap, int j) {
    const int n = static_cast<int>(tap.size()) - 1;
    float sum = tap[static_cast<std::size_t>(n)];
    for (int i = n - 1; i >= j; --i) sum = tap[static_cast<std::size_t>(i)] + sum;
    return sum;
}

// One lane of output p: sample(q) is that lane of sample q.
template <class Sample>
float ModelOutput(const std::vector<float>& tap, int p, int length, Sample sample) {
    const int n = static_cast<int>(tap.size()) - 1;
    float centre = tap[0];
    if (n > 0 && p == 0) centre = centre + ModelEndWeight(tap, 1);
    if (n > 0 && p == length - 1) centre = centre + ModelEndWeight(tap, 1);
    float acc = centre * sample(p);
    for (int j = 1; j <= n; ++j) {
        ModelTerm terms[2];
        int count = 0;
        for (int q : {p - j, p + j}) {
            if (q < 0 || q > length - 1) continue;
            const bool end = q == 0 || q == length - 1;
            terms[count++] = ModelTerm{q, end ? ModelEndWeight(tap, j) : tap[static_cast<std::size_t>(j)]};
        }
        if (count == 2 && terms[0].position != 0 && terms[1].position != length - 1)
            acc = acc + tap[static_cast<std::size_t>(j)] * (sample(terms[0].position) + sample(terms[1].position));
        else if (count == 2)
            acc = acc + (terms[0].weight * sample(terms[0].position) + terms[1].weight * sample(terms[1].position));
        else if (count == 1) acc = acc + terms[0].weight * sample(terms[0].position);
    }
    return acc;
}

// --- the cases

std::vector<float> RandomFloatTaps(Lcg& rng, int n) {
    // Half the cases a kernel the design makes, half any symmetric taps
    // (negative, above 1, far from summing to 1).
    std::vector<float> tap(static_cast<std::size_t>(n) + 1);
    if (rng.Next() % 2 == 0) {
        KernelTables tables{};
        const double fc = 0.02 + 0.47 * static_cast<double>(rng.Next() % 1000) / 1000.0;
        const lowpass::WindowWeights windows[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                                  lowpass::kHammingWindow, lowpass::kBlackmanWindow};
        lowpass::BuildKernelTables(tables, fc, n, windows[rng.Next() % 4]);
        for (int j = 0; j <= n; ++j) tap[static_cast<std::size_t>(j)] = tables.sseTaps[n + j][0];
    } else {
        for (float& v : tap) v = (RandomUnit(rng) - 0.3f) * 2.5f;
    }
    return tap;
}

// A random finite half: mostly 0 .. 4 (light above 1 included), some
// negative, some tiny (subnormal) and some huge.
std::uint16_t RandomHalf(Lcg& rng) {
    const std::uint32_t r = rng.Next();
    switch (r % 8) {
        case 0: return static_cast<std::uint16_t>((r >> 8) & 0x83FF);             // subnormal, either sign
        case 1: return static_cast<std::uint16_t>(0x8000 | ((r >> 8) % 0x4400));  // negative, down to -4
        case 2: return static_cast<std::uint16_t>((r >> 8) % 0x7C00);             // any finite positive
        default: return static_cast<std::uint16_t>((r >> 8) % 0x4401);            // 0 .. 4
    }
}

std::vector<float> RandomPixels(Lcg& rng, std::size_t floats) {
    std::vector<float> v(floats);
    for (float& f : v) f = ModelHalfToFloat(RandomHalf(rng));
    return v;
}

constexpr float kSentinel = -1234.5f;
constexpr int kGuardFloats = 16;

class FloatPasses : public ::testing::TestWithParam<const lowpass::Engine*> {
protected:
    void SetUp() override {
        if (!lowpass::CanRun(*GetParam(), lowpass::ProbeFeatures()))
            GTEST_SKIP() << GetParam()->name << " needs what this processor does not offer ("
                         << lowpass::FeatureNames(GetParam()->needs) << ")";
    }
    const lowpass::FloatPasses& Passes() const { return GetParam()->image; }
};

std::vector<const lowpass::Engine*> ImageEngineList() {
    std::vector<const lowpass::Engine*> list;
    for (const lowpass::Engine& engine : lowpass::ImageEngines()) list.push_back(&engine);
    return list;
}

// "float-avx2" as a test name: float_avx2.
std::string FloatNameOf(const ::testing::TestParamInfo<const lowpass::Engine*>& info) {
    std::string name = info.param->name;
    for (char& c : name)
        if (c == '-') c = '_';
    return name;
}

// Line lengths: 1 .. past the 8-pixel vector block, and a few long ones.
int RandomLength(Lcg& rng) {
    return rng.Next() % 4 == 0 ? 40 + static_cast<int>(rng.Next() % 300) : 1 + static_cast<int>(rng.Next() % 40);
}

TEST_P(FloatPasses, AcrossMatchesTheModelBitForBit) {
    const t::TestSeed seed(7001);
    Lcg rng(seed);
    const int cases = RandomCaseCount(600);
    for (int c = 0; c < cases; ++c) {
        const int n = c < 16 ? c : static_cast<int>(rng.Next() % 16);
        const int w = RandomLength(rng);
        const std::vector<float> tap = RandomFloatTaps(rng, n);
        std::vector<float> kernel(2 * static_cast<std::size_t>(n) + 1);
        for (int j = 0; j <= n; ++j)
            kernel[static_cast<std::size_t>(n + j)] = kernel[static_cast<std::size_t>(n - j)] =
                tap[static_cast<std::size_t>(j)];
        const FloatTaps floatTaps = lowpass::MakeFloatTaps(kernel.data(), n);
        const std::vector<float> source = RandomPixels(rng, static_cast<std::size_t>(kFloatLanes) * w);
        std::vector<float> out(static_cast<std::size_t>(kFloatLanes) * w + 2 * kGuardFloats, kSentinel);
        Passes().across(lowpass::FloatAcrossJob{source.data(), out.data() + kGuardFloats, w, &floatTaps});
        for (int i = 0; i < kGuardFloats; ++i) {
            ASSERT_EQ(Bits(out[static_cast<std::size_t>(i)]), Bits(kSentinel)) << "written before the row, case " << c;
            ASSERT_EQ(Bits(out[out.size() - 1 - static_cast<std::size_t>(i)]), Bits(kSentinel))
                << "written past the row, case " << c;
        }
        for (int p = 0; p < w; ++p)
            for (int k = 0; k < kFloatLanes; ++k) {
                const float expected = ModelOutput(
                    tap, p, w, [&](int q) { return source[static_cast<std::size_t>(kFloatLanes * q + k)]; });
                const float got = out[static_cast<std::size_t>(kGuardFloats + kFloatLanes * p + k)];
                ASSERT_FALSE(std::isnan(got)) << "case " << c << " pixel " << p << " lane " << k;
                ASSERT_EQ(Bits(got), Bits(expected)) << "case " << c << ": w " << w << " n " << n << " pixel " << p
                                                     << " lane " << k << ": " << got << " against " << expected;
            }
    }
}

TEST_P(FloatPasses, DownMatchesTheModelBitForBitWithAPitchWiderThanTheRow) {
    const t::TestSeed seed(7002);
    Lcg rng(seed);
    const int cases = RandomCaseCount(120);
    for (int c = 0; c < cases; ++c) {
        const int n = c < 16 ? c : static_cast<int>(rng.Next() % 16);
        const int w = 1 + static_cast<int>(rng.Next() % 21);
        const int h = RandomLength(rng);
        const int pitch = kFloatLanes * w + static_cast<int>(rng.Next() % 9);  // floats per row, slack kept
        const std::vector<float> tap = RandomFloatTaps(rng, n);
        std::vector<float> kernel(2 * static_cast<std::size_t>(n) + 1);
        for (int j = 0; j <= n; ++j)
            kernel[static_cast<std::size_t>(n + j)] = kernel[static_cast<std::size_t>(n - j)] =
                tap[static_cast<std::size_t>(j)];
        const FloatTaps floatTaps = lowpass::MakeFloatTaps(kernel.data(), n);
        // The last row ends the buffer: nothing past it may be read.
        std::vector<float> frame = RandomPixels(rng, static_cast<std::size_t>(pitch) * (h - 1) + kFloatLanes * w);
        const auto sample = [&](int x, int y, int k) {
            return frame[static_cast<std::size_t>(pitch) * y + static_cast<std::size_t>(kFloatLanes * x + k)];
        };
        std::vector<float> out(static_cast<std::size_t>(kFloatLanes) * w + 2 * kGuardFloats);
        for (int p = 0; p < h; ++p) {
            std::vector<const float*> rows(2 * static_cast<std::size_t>(n) + 1, nullptr);
            for (int j = 0; j <= 2 * n; ++j) {
                const int q = p - n + j;
                if (q >= 0 && q < h)
                    rows[static_cast<std::size_t>(j)] = frame.data() + static_cast<std::size_t>(pitch) * q;
            }
            std::fill(out.begin(), out.end(), kSentinel);
            Passes().down(lowpass::FloatDownJob{rows.data(), out.data() + kGuardFloats, w, p, h, &floatTaps});
            for (int i = 0; i < kGuardFloats; ++i) {
                ASSERT_EQ(Bits(out[static_cast<std::size_t>(i)]), Bits(kSentinel))
                    << "written before the row, case " << c;
                ASSERT_EQ(Bits(out[out.size() - 1 - static_cast<std::size_t>(i)]), Bits(kSentinel))
                    << "written past the row, case " << c;
            }
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < kFloatLanes; ++k) {
                    const float expected = ModelOutput(tap, p, h, [&](int q) { return sample(x, q, k); });
                    const float got = out[static_cast<std::size_t>(kGuardFloats + kFloatLanes * x + k)];
                    ASSERT_FALSE(std::isnan(got)) << "case " << c << " row " << p << " pixel " << x << " lane " << k;
                    ASSERT_EQ(Bits(got), Bits(expected)) << "case " << c << ": w " << w << " h " << h << " n " << n
                                                         << " row " << p << " pixel " << x << " lane " << k;
                }
        }
    }
}

TEST_P(FloatPasses, HalfConversionsAreExactBothWays) {
    // Every half to float and back.
    std::vector<std::uint16_t> halves(65536 + 3);
    for (int i = 0; i < 65536; ++i) halves[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(i);
    std::vector<float> floats(halves.size(), kSentinel);
    // Odd counts and offsets, so that the vector body and its tail both run.
    Passes().toFloat(halves.data() + 3, floats.data() + 3, 65533);
    Passes().toFloat(halves.data(), floats.data(), 3);
    for (int i = 0; i < 65536; ++i) {
        const auto h = static_cast<std::uint16_t>(i);
        ASSERT_EQ(Bits(floats[static_cast<std::size_t>(i)]), Bits(ModelHalfToFloat(h))) << "half " << std::hex << i;
    }
    ASSERT_EQ(Bits(floats[65536]), Bits(kSentinel));

    // Floats to halves through finish (light kept, alpha 1 to 0..1): the
    // colour lanes carry the values under test. Around every half, the
    // midpoints to its neighbours and one float step either side, then
    // random floats of every magnitude, NaNs and infinities.
    std::vector<float> values;
    for (std::uint32_t h = 0; h < 0x7C00; ++h) {
        const float v = ModelHalfToFloat(static_cast<std::uint16_t>(h));
        const float mid = static_cast<float>(
            (ModelHalfValue(static_cast<std::uint16_t>(h)) + ModelHalfValue(static_cast<std::uint16_t>(h + 1))) /
            2);  // exact in float
        for (float f : {v, mid, std::nextafter(mid, 0.0f), std::nextafter(mid, INFINITY)}) values.push_back(f);
    }
    const t::TestSeed seed(7003);
    Lcg rng(seed);
    for (int i = 0; i < 200000; ++i) values.push_back(FromBits(rng.Next() & 0x7FFFFFFFu));
    for (std::uint32_t b : {0x7F800000u, 0x7F800001u, 0x7FC00000u, 0x7FFFFFFFu, 0x477FF000u, 0x477FEFFFu, 0x33000000u,
                            0x33000001u, 0x00000001u, 0x387FFFFFu, 0x38800000u})
        values.push_back(FromBits(b));
    while (values.size() % 6 != 0) values.push_back(0.5f);
    std::vector<float> pixels;
    for (std::size_t i = 0; i < values.size(); i += 3)
        pixels.insert(pixels.end(), {values[i], values[i + 1], values[i + 2], 1.0f});
    const int w = static_cast<int>(pixels.size() / kFloatLanes);
    std::vector<std::uint16_t> out(static_cast<std::size_t>(kFloatLanes) * w + 4, 0xBEEF);
    Passes().finish(pixels.data(), out.data(), w - 1, FloatFinish::kLight, false);  // an odd count: the tail too
    Passes().finish(pixels.data() + kFloatLanes * (w - 1), out.data() + kFloatLanes * (w - 1), 1, FloatFinish::kLight,
                    false);
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i % kFloatLanes == 3) continue;
        const float f = pixels[i];
        // Finish takes NaN to 0 (the colours are not below 0): the
        // conversion proper is checked on the rest.
        const std::uint16_t expected = std::isnan(f) ? 0 : ModelFloatToHalf(f);
        ASSERT_EQ(out[i], expected) << "float bits " << std::hex << Bits(f);
    }
    ASSERT_EQ(out[out.size() - 1], 0xBEEF);
    // The NaNs themselves, through the shared converter.
    for (std::uint32_t b : {0x7F800001u, 0x7FC00000u, 0xFF812345u, 0x7FFFFFFFu})
        EXPECT_EQ(lowpass::FloatToHalf(FromBits(b)), ModelFloatToHalf(FromBits(b))) << std::hex << b;
}

TEST_P(FloatPasses, FinishClampsEachLaneByItsOwnPixelsAlphaAndScanFindsWhatItIs) {
    const t::TestSeed seed(7004);
    Lcg rng(seed);
    for (int c = 0; c < 200; ++c) {
        const int w = 1 + static_cast<int>(rng.Next() % 19);
        std::vector<float> in(static_cast<std::size_t>(kFloatLanes) * w);
        for (float& f : in) {
            const std::uint32_t r = rng.Next();
            f = r % 13 == 0 ? NAN : (RandomUnit(rng) - 0.25f) * (r % 3 == 0 ? 5.0f : 1.5f);
        }
        for (FloatFinish mode : {FloatFinish::kLight, FloatFinish::kPremultiplied})
            for (bool opaque : {false, true}) {
                std::vector<std::uint16_t> out(in.size() + 4, 0xBEEF);
                Passes().finish(in.data(), out.data(), w, mode, opaque);
                ASSERT_EQ(out[in.size()], 0xBEEF) << "written past the row";
                for (int x = 0; x < w; ++x) {
                    const float* p = &in[static_cast<std::size_t>(kFloatLanes * x)];
                    const float a = opaque ? 1.0f : (std::isnan(p[3]) || p[3] <= 0.0f ? 0.0f : std::min(p[3], 1.0f));
                    for (int k = 0; k < kFloatLanes; ++k) {
                        float v = a;
                        if (k < 3) {
                            v = std::isnan(p[k]) || p[k] <= 0.0f ? 0.0f : p[k];
                            if (mode == FloatFinish::kPremultiplied) v = std::min(v, a);
                        }
                        ASSERT_EQ(out[static_cast<std::size_t>(kFloatLanes * x + k)], ModelFloatToHalf(v))
                            << "case " << c << " pixel " << x << " lane " << k << " in " << p[k] << " alpha " << p[3];
                    }
                }
            }
        // The scan: a pixel with a colour above its alpha, or an alpha that
        // is not exactly 1, anywhere in the row.
        std::vector<std::uint16_t> halves(in.size());
        for (std::uint16_t& h : halves) h = rng.Next() % 3 == 0 ? 0x3C00 : RandomHalf(rng);
        int expected = 0;
        for (int x = 0; x < w; ++x) {
            const std::uint16_t* p = &halves[static_cast<std::size_t>(kFloatLanes * x)];
            if (p[3] != 0x3C00) expected |= lowpass::kScanNotOpaque;
            for (int k = 0; k < 3; ++k)
                if (ModelHalfValue(p[k]) > ModelHalfValue(p[3])) expected |= lowpass::kScanColourAboveAlpha;
        }
        ASSERT_EQ(Passes().scan(halves.data(), w), expected) << "case " << c;
    }
}

// The 64-bit plug-in's blocks (aviutl2/hf64_filter): a picture cut into
// blocks for 2 .. 7 threads, each block reading its neighbours' rows as
// they were, gives the very bytes of one block on one thread, and writes
// nothing past a row (a pitch wider than the row, with sentinels). Working
// memory refused: nothing written.
TEST_P(FloatPasses, BlocksOnAnyNumberOfThreadsGiveTheOneThreadImage) {
    struct Case {
        int w, h, x, y, n;
    };
    const Case cases[] = {
        {97, 517, 40, 100, 15},  // both passes, blocks of 73 .. 258 rows
        {61, 450, 100, 99, 1},   // down only
        {130, 333, 64, 400, 7},  // across only: blocks without boundaries
        {45, 390, 20, 30, 3},
    };
    const t::TestSeed seed(7005);
    Lcg rng(seed);
    lowpass::auf2::ScratchStore store;
    for (const Case& c : cases) {
        const std::ptrdiff_t stride = 4 * c.w + 12;
        std::vector<std::uint16_t> input(static_cast<std::size_t>(stride) * c.h, 0xBEEF);
        for (int y = 0; y < c.h; ++y)
            for (int i = 0; i < 4 * c.w; ++i) input[static_cast<std::size_t>(stride * y + i)] = RandomHalf(rng);
        const lowpass::auf2::FilterSettings settings{c.x, c.y, c.n, lowpass::auf2::kWindowHamming, true};
        std::vector<std::uint16_t> alone = input;
        const lowpass::auf2::Hf64Image aloneImage{alone.data(), c.w, c.h, stride};
        ASSERT_EQ(lowpass::auf2::FilterImage(aloneImage, settings, Passes(), nullptr, store),
                  lowpass::auf2::FilterResult::kFiltered);
        ASSERT_NE(alone, input);
        for (int runners = 2; runners <= 7; ++runners) {
            lowpass::auf2::BandPool pool(runners);
            std::vector<std::uint16_t> banded = input;
            const lowpass::auf2::Hf64Image image{banded.data(), c.w, c.h, stride};
            ASSERT_EQ(lowpass::auf2::FilterImage(image, settings, Passes(), &pool, store),
                      lowpass::auf2::FilterResult::kFiltered);
            for (std::size_t i = 0; i < banded.size(); ++i)
                ASSERT_EQ(banded[i], alone[i]) << c.w << " x " << c.h << " N " << c.n << " on " << runners
                                               << " threads: row " << i / stride << ", half " << i % stride;
        }
        // Once a size has been seen, its calls take no more memory.
        const std::size_t held = store.HeldBytes();
        for (int runners : {7, 3, 1}) {
            lowpass::auf2::BandPool pool(runners);
            std::vector<std::uint16_t> again = input;
            lowpass::auf2::FilterImage(lowpass::auf2::Hf64Image{again.data(), c.w, c.h, stride}, settings, Passes(),
                                       &pool, store);
        }
        EXPECT_EQ(store.HeldBytes(), held) << "working memory grew on calls of a size seen before";
        store.RefuseForTesting(true);
        std::vector<std::uint16_t> refused = input;
        const lowpass::auf2::Hf64Image refusedImage{refused.data(), c.w, c.h, stride};
        lowpass::auf2::BandPool pool(3);
        EXPECT_EQ(lowpass::auf2::FilterImage(refusedImage, settings, Passes(), &pool, store),
                  lowpass::auf2::FilterResult::kOutOfMemory);
        EXPECT_EQ(refused, input) << "written although the working memory was refused";
        store.RefuseForTesting(false);
    }
}

INSTANTIATE_TEST_SUITE_P(Implementations, FloatPasses, ::testing::ValuesIn(ImageEngineList()), FloatNameOf);

}  // namespace

#endif  // __x86_64__
