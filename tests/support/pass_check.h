// Shared pieces of the checkasm-style tests of the vector passes: the
// processor's answer, the number of random cases, frame buffers of either
// kind (guarded with slack, or tight against an inaccessible page), random
// frame shapes and samples, and the source copy the models read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "host/host_api.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "tests/support/tight_frame.h"
#include "tools/standin_host/stand_in_host.h"

namespace lowpass::testing {

using namespace lowpass::standin;

// What this processor allows, asked once (CPUID and the SSE trial).
inline int ProcessorCaps() {
    static const int caps = lowpass::ComposeCpuCaps();
    return caps;
}
inline bool ProcessorHasMmx() { return (ProcessorCaps() & lowpass::kCpuCapsMmx) != 0; }
inline bool ProcessorHasSse() { return (ProcessorCaps() & lowpass::kCpuCapsSse) != 0; }

// Random cases per test: the default, or LOWPASS_RANDOM_CASES when set (the
// emulated-processor runs use fewer).
inline int RandomCaseCount(int fallback) {
    const char* text = std::getenv("LOWPASS_RANDOM_CASES");
    if (text == nullptr || *text == '\0') return fallback;
    const long value = std::strtol(text, nullptr, 10);
    return value > 0 ? static_cast<int>(value) : fallback;
}

inline int Channel(const PIXEL_YC& p, int c) { return c == 0 ? p.y : (c == 1 ? p.cb : p.cr); }
inline void SetChannel(PIXEL_YC& p, int c, int v) {
    const auto s = static_cast<std::int16_t>(v);
    if (c == 0)
        p.y = s;
    else if (c == 1)
        p.cb = s;
    else
        p.cr = s;
}

// Where a frame lives.
enum class BufferKind {
    Guarded,     // max_w x max_h pixels with guard pixels around the allocation
    TightEnd,    // last picture sample is the last byte before an inaccessible page
    TightStart,  // first picture sample is the first byte after an inaccessible page
};

inline const char* BufferKindName(BufferKind kind) {
    switch (kind) {
        case BufferKind::Guarded: return "guarded";
        case BufferKind::TightEnd: return "tight (ends at its allocation's end)";
        case BufferKind::TightStart: return "tight (starts at its allocation's start)";
    }
    return "?";
}

// A frame of either kind behind one interface.
class TestBuffer {
public:
    TestBuffer(BufferKind kind, int w, int h, int maxW, int maxH, std::uint32_t salt) : kind_(kind) {
        if (kind == BufferKind::Guarded)
            guarded_ = std::make_unique<GuardedFrame>(w, h, maxW, maxH, salt);
        else
            tight_ = std::make_unique<TightFrame>(
                w, h, maxW, kind == BufferKind::TightEnd ? TightFrame::Anchor::End : TightFrame::Anchor::Start, salt);
    }
    PIXEL_YC* data() { return guarded_ ? guarded_->data() : tight_->data(); }
    PIXEL_YC& at(int x, int y) { return guarded_ ? guarded_->at(x, y) : tight_->at(x, y); }
    const PIXEL_YC& at(int x, int y) const { return guarded_ ? guarded_->at(x, y) : tight_->at(x, y); }
    bool SentinelsIntact(std::string* where) const {
        return guarded_ ? guarded_->SentinelsIntact(where) : tight_->SentinelsIntact(where);
    }
    BufferKind kind() const { return kind_; }

private:
    BufferKind kind_;
    std::unique_ptr<GuardedFrame> guarded_;
    std::unique_ptr<TightFrame> tight_;
};

// The shape of one random case.
struct CaseShape {
    int w, h, maxW, maxH;
    BufferKind kind;
};

// A frame for a pass in one direction with kernel half-length n: the line
// length along the direction from 2n + 1 up (mostly short, sometimes exactly
// 2n + 1, sometimes long such as 853), the other size small but covering
// partial column groups, a stride mostly wider than the picture.
inline CaseShape RandomShape(Lcg& rng, int n, bool horizontal) {
    const int minimum = 2 * n + 1;
    int length;
    const int pick = rng.Range(0, 79);
    if (pick == 0)
        length = 853;
    else if (pick == 1)
        length = rng.Range(100, 400) | 1;
    else if (pick < 10)
        length = minimum;
    else
        length = minimum + rng.Range(1, 26);
    int across;
    if (horizontal) {
        across = rng.Range(0, 29) == 0 ? rng.Range(5, 12) : rng.Range(1, 3);
    } else {
        // Mostly 1 .. 9 pixels (every kind of partial column group and
        // sample group), now and then wide rows over few rows.
        const int wide = rng.Range(0, 239);
        if (wide < 2) {
            across = wide == 0 ? 853 : rng.Range(40, 120);
            length = minimum + rng.Range(0, 2);
        } else {
            across = length > 100 ? rng.Range(1, 3) : rng.Range(1, 9);
        }
    }
    CaseShape shape{};
    shape.w = horizontal ? length : across;
    shape.h = horizontal ? across : length;
    shape.maxW = rng.Range(0, 7) == 0 ? shape.w : shape.w + rng.Range(1, 9);
    shape.maxH = shape.h + rng.Range(0, 2);
    const int kind = rng.Range(0, 9);
    shape.kind = kind < 2 ? BufferKind::TightEnd : (kind < 3 ? BufferKind::TightStart : BufferKind::Guarded);
    return shape;
}

// Samples over the whole int16 range, or the host's nominal range, or a mix
// of the values where the engines' wrap and saturation begin.
inline int RandomSample(Lcg& rng, int mode) {
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

inline void FillRandom(TestBuffer& frame, const CaseShape& shape, Lcg& rng) {
    const int mode = rng.Range(0, 3);
    for (int y = 0; y < shape.h; ++y)
        for (int x = 0; x < shape.w; ++x)
            for (int c = 0; c < 3; ++c) SetChannel(frame.at(x, y), c, RandomSample(rng, mode));
}

// The source's picture as plain samples: [(y * w + x) * 3 + c].
struct PictureCopy {
    int w = 0, h = 0;
    std::vector<int> samples;
    int at(int x, int y, int c) const { return samples[(static_cast<std::size_t>(y) * w + x) * 3 + c]; }
    // Line `index` of one channel along the direction (a row for the
    // horizontal pass, a column for the vertical one).
    std::vector<int> Line(bool horizontal, int index, int c) const {
        std::vector<int> line;
        if (horizontal)
            for (int x = 0; x < w; ++x) line.push_back(at(x, index, c));
        else
            for (int y = 0; y < h; ++y) line.push_back(at(index, y, c));
        return line;
    }
};

inline PictureCopy CopyPicture(const TestBuffer& frame, int w, int h) {
    PictureCopy copy;
    copy.w = w;
    copy.h = h;
    copy.samples.resize(static_cast<std::size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) copy.samples[(static_cast<std::size_t>(y) * w + x) * 3 + c] = Channel(frame.at(x, y), c);
    return copy;
}

// The inputs of one output sample, for a mismatch report: the whole line
// when it is short, otherwise the edges and the kernel's window.
inline std::string DescribeLine(const std::vector<int>& line, int p, int n) {
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

// A pass over the whole picture, with the tables the tests set in the
// plug-in's kernel cache: source, destination, w, h, max_w, N.
using VectorPass = void (*)(const PIXEL_YC*, PIXEL_YC*, int, int, int, int);

template <lowpass::Pass kPass, bool kAcross>
void WholePicture(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int maxW, int n) {
    const lowpass::KernelCache& cache = lowpass::kernelCache;
    kPass(lowpass::PassJob{source, destination, w, h, maxW, n, kAcross ? &cache.horizontal : &cache.vertical,
                           cache.roundingBias, 0, kAcross ? h : w});
}

// Builds the plug-in's tables for a frame of w x h from the host's X, Y and
// taps and the current window.
inline void RebuildFor(const StandInHost& host, int w, int h) {
    lowpass::RebuildKernel(lowpass::kernelCache,
                           lowpass::KernelSettings{host.track[0], host.track[1], host.track[2], lowpass::windowWeights},
                           w, h);
}

// The portable engine's pass from `src` into a fresh guarded frame, with the
// fixedTaps in the table.
inline std::unique_ptr<GuardedFrame> ScalarInto(bool horizontal, GuardedFrame& src, int n) {
    auto dst = std::make_unique<GuardedFrame>(src.w(), src.h(), src.maxW(), src.maxH(), 78);
    (horizontal ? WholePicture<lowpass::HorizontalPassScalar, true> : WholePicture<lowpass::VerticalPassScalar, false>)(
        src.data(), dst->data(), src.w(), src.h(), src.maxW(), n);
    return dst;
}

// A frame whose lines along the direction hold the given samples: for the
// horizontal pass row r is line r, for the vertical pass column x is line x;
// y, cb and cr each get their own list (lines[c]); `count` lines.
inline std::unique_ptr<GuardedFrame> FrameOfLines(bool horizontal, const std::vector<int> (&lines)[3], int count) {
    const int length = static_cast<int>(lines[0].size());
    const int w = horizontal ? length : count;
    const int h = horizontal ? count : length;
    auto frame = std::make_unique<GuardedFrame>(w, h, w + 3, h + 1, 5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) SetChannel(frame->at(x, y), c, lines[c][horizontal ? x : y]);
    return frame;
}

// The same samples in all three channels.
inline std::unique_ptr<GuardedFrame> FrameOfLine(bool horizontal, const std::vector<int>& line, int count) {
    const std::vector<int> lines[3] = {line, line, line};
    return FrameOfLines(horizontal, lines, count);
}

// Line `index` of channel c along the direction.
inline std::vector<int> LineOf(const GuardedFrame& frame, bool horizontal, int index, int c) {
    std::vector<int> line;
    if (horizontal)
        for (int x = 0; x < frame.w(); ++x) line.push_back(Channel(frame.at(x, index), c));
    else
        for (int y = 0; y < frame.h(); ++y) line.push_back(Channel(frame.at(index, y), c));
    return line;
}

}  // namespace lowpass::testing
