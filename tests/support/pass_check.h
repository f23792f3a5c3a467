// Shared pieces of the pass tests: the processor's answer, the number of
// random cases, tables a test owns, a pass run on a guarded frame, frames
// made of given lines, a line model run as a pass, and the engines' models
// (each defined next to its engine's examples).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core/kernel_tables.h"
#include "core/pass_job.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "simd/mmx_state.h"
#include "tests/hosts/standin_host/stand_in_host.h"

namespace lowpass::testing {

using lowpass::standin::GuardedFrame;

// What this processor allows, asked once (CPUID and the SSE trial).
inline int ProcessorCaps() {
    static const int caps = lowpass::ComposeCpuCaps();
    return caps;
}
inline bool ProcessorHasMmx() { return (ProcessorCaps() & lowpass::kCpuCapsMmx) != 0; }
inline bool ProcessorHasSse() { return (ProcessorCaps() & lowpass::kCpuCapsSse) != 0; }

// Empty when the processor offers every capability bit of `needs`;
// otherwise why `what` cannot run here, for the skip message.
inline std::string MissingCaps(int needs, const std::string& what) {
    static const int faster = lowpass::ProbeSseImplementations();
    const int caps = ProcessorCaps() | faster;
    if ((caps & needs) == needs) return {};
    // SSE and the wider sets also need the system to save their registers.
    const bool state = (needs & ~caps & ~kCpuCapsMmx) != 0;
    return "this processor or system has no usable " + lowpass::FeatureNames(needs & ~caps) + " (it has " +
           lowpass::FeatureNames(caps) + (state ? "; a set also needs its registers saved by the system" : "") +
           "): " + what + " is not run";
}

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

// One direction's tables and the rounding bias, owned by the test.
struct PassTables {
    KernelTables tables{};
    alignas(16) float bias[4] = {0.5f, 0.5f, 0.5f, 0.5f};

    // A job over every line of a w x h picture (rows across, columns down).
    PassJob Job(const PIXEL_YC* source, PIXEL_YC* destination, int w, int h, int stride, int n, bool across) const {
        return PassJob{source, destination, w, h, stride, n, &tables, bias, 0, across ? h : w};
    }
};

// Runs `pass` over the whole picture of `source` into a fresh guarded frame,
// then EMMS (the test's own floating point may run on the x87); the
// sentinels of both frames must be intact.
inline std::unique_ptr<GuardedFrame> RunPass(Pass pass, bool across, const GuardedFrame& source, int n,
                                             const PassTables& t) {
    auto destination = std::make_unique<GuardedFrame>(source.w(), source.h(), source.maxW(), source.maxH(), 77);
    pass(t.Job(source.data(), destination->data(), source.w(), source.h(), source.maxW(), n, across));
    lowpass::ClearMmxState();
    std::string where;
    EXPECT_TRUE(destination->SentinelsIntact(&where)) << "destination: " << where;
    EXPECT_TRUE(source.SentinelsIntact(&where)) << "source: " << where;
    return destination;
}

// A frame whose lines along the direction hold the given samples: across,
// row r is line r; down, column x is line x. y, cb and cr each get their
// own list (lines[c]); `count` lines.
inline std::unique_ptr<GuardedFrame> FrameOfLines(bool across, const std::vector<int> (&lines)[3], int count) {
    const int length = static_cast<int>(lines[0].size());
    const int w = across ? length : count;
    const int h = across ? count : length;
    auto frame = std::make_unique<GuardedFrame>(w, h, w + 3, h + 1, 5);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) SetChannel(frame->at(x, y), c, lines[c][across ? x : y]);
    return frame;
}

// The same samples in all three channels.
inline std::unique_ptr<GuardedFrame> FrameOfLine(bool across, const std::vector<int>& line, int count) {
    const std::vector<int> lines[3] = {line, line, line};
    return FrameOfLines(across, lines, count);
}

// Line `index` of channel c along the direction.
inline std::vector<int> LineOf(const GuardedFrame& frame, bool across, int index, int c) {
    std::vector<int> line;
    if (across)
        for (int x = 0; x < frame.w(); ++x) line.push_back(Channel(frame.at(x, index), c));
    else
        for (int y = 0; y < frame.h(); ++y) line.push_back(Channel(frame.at(index, y), c));
    return line;
}

// A model of one line of one channel: the samples along the line in, the
// outputs out, with this direction's tables.
using LineModel = std::vector<int> (*)(const std::vector<int>& samples, const KernelTables& tables, int n,
                                       bool across);

// Runs each pass over every 16-bit value (a 256 x 256 frame, y, cb and cr
// each in an order of its own) and expects every sample back as want(s).
inline void ExpectEverySixteenBitValue(Pass across, Pass down, const PassTables& t, int n, int (*want)(int)) {
    GuardedFrame source(256, 256, 259, 257, 8);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = y * 256 + x - 32768;
            source.at(x, y) = PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(-1 - v),
                                       static_cast<std::int16_t>(v ^ 0x2aaa)};
        }
    for (bool isAcross : {true, false}) {
        auto result = RunPass(isAcross ? across : down, isAcross, source, n, t);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int s = Channel(source.at(x, y), c);
                    ASSERT_EQ(Channel(result->at(x, y), c), want(s))
                        << (isAcross ? "across" : "down") << ", sample " << s;
                }
    }
}

// A line model run as a pass: every line of the job's band, each channel.
inline void RunLineModel(const PassJob& job, bool across, LineModel model) {
    const int length = across ? job.w : job.h;
    for (int line = job.first; line < job.end; ++line)
        for (int c = 0; c < 3; ++c) {
            auto offset = [&](int p) {
                return across ? static_cast<std::ptrdiff_t>(line) * job.stride + p
                              : static_cast<std::ptrdiff_t>(p) * job.stride + line;
            };
            std::vector<int> samples;
            for (int p = 0; p < length; ++p) samples.push_back(Channel(job.source[offset(p)], c));
            const std::vector<int> out = model(samples, *job.tables, job.taps, across);
            for (int p = 0; p < length; ++p)
                SetChannel(job.destination[offset(p)], c, out[static_cast<std::size_t>(p)]);
        }
}

// The engines' models as passes (test_pass_scalar.cpp, test_pass_mmx.cpp,
// test_pass_sse.cpp): each is its engine's exact arithmetic written out
// plainly, line by line.
void ScalarModelAcross(const PassJob& job);
void ScalarModelDown(const PassJob& job);
void MmxModelAcross(const PassJob& job);
void MmxModelDown(const PassJob& job);
void SseModelAcross(const PassJob& job);
void SseModelDown(const PassJob& job);

}  // namespace lowpass::testing
