// The frame-driver check both vector engines' tests run: a driver call on a
// guarded frame against the picture their models predict, with the passes
// chosen as the driver chooses them and the portable pass standing in for
// a line too short for the kernel.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "tests/support/pass_check.h"
#include "tools/standin_host/stand_in_host.h"

namespace lowpass::testing {

// The engine's model of one line of one channel: taps from the current
// kernel tables of that direction.
using LineModel = std::function<std::vector<int>(const std::vector<int>& samples, bool horizontal, int n)>;

struct EngineUnderTest {
    const char* name;  // "MMX", "SSE"
    FilterProcFunc proc;
    LineModel model;
};

// One vector pass from `src` into a fresh guarded frame, then EMMS (the
// test's own floating point may run on the x87); the sentinels of both
// frames must be intact.
inline std::unique_ptr<GuardedFrame> PassInto(VectorPass pass, const GuardedFrame& src, int n) {
    auto dst = std::make_unique<GuardedFrame>(src.w(), src.h(), src.maxW(), src.maxH(), 77);
    pass(src.data(), dst->data(), src.w(), src.h(), src.maxW(), n);
    lowpass::ClearMmxState();
    std::string where;
    EXPECT_TRUE(dst->SentinelsIntact(&where)) << "destination: " << where;
    EXPECT_TRUE(src.SentinelsIntact(&where)) << "source: " << where;
    return dst;
}

// The expected picture of a driver run: each direction whose pass runs is
// filtered with the engine's model when the line has room for the kernel,
// and with the portable engine otherwise.
inline std::vector<int> ExpectedDriverPicture(const EngineUnderTest& engine, const PictureCopy& input, int x, int y,
                                              int n, StandInHost& host) {
    const int w = input.w, h = input.h;
    std::vector<int> picture = input.samples;
    auto at = [&](std::vector<int>& v, int px, int py, int c) -> int& {
        return v[(static_cast<std::size_t>(py) * w + px) * 3 + c];
    };
    for (bool horizontal : {true, false}) {
        if (horizontal ? !(w > x) : !(h > y)) continue;
        const int length = horizontal ? w : h;
        std::vector<int> next = picture;
        if (length >= 2 * n + 1) {
            for (int line = 0; line < (horizontal ? h : w); ++line)
                for (int c = 0; c < 3; ++c) {
                    std::vector<int> s;
                    for (int p = 0; p < length; ++p)
                        s.push_back(horizontal ? at(picture, p, line, c) : at(picture, line, p, c));
                    const std::vector<int> out = engine.model(s, horizontal, n);
                    for (int p = 0; p < length; ++p)
                        (horizontal ? at(next, p, line, c) : at(next, line, p, c)) = out[static_cast<std::size_t>(p)];
                }
        } else {
            GuardedFrame src(w, h, w, h, 1), dst(w, h, w, h, 2);
            for (int py = 0; py < h; ++py)
                for (int px = 0; px < w; ++px)
                    for (int c = 0; c < 3; ++c) SetChannel(src.at(px, py), c, at(picture, px, py, c));
            (horizontal ? WholePicture<lowpass::HorizontalPassScalar, true>
                        : WholePicture<lowpass::VerticalPassScalar, false>)(src.data(), dst.data(), w, h, w,
                                                                            host.track[2]);
            for (int py = 0; py < h; ++py)
                for (int px = 0; px < w; ++px)
                    for (int c = 0; c < 3; ++c) at(next, px, py, c) = Channel(dst.at(px, py), c);
        }
        picture = next;
    }
    return picture;
}

// Runs the engine's driver on a w x h frame (stride maxW, maxH rows) with
// target X, Y and N taps, and checks the result against the models, the
// buffer exchange, the sentinels, and, where the engines are known to
// differ, that the result is not the portable engine's (the engine ran).
inline void CheckDriverRun(const EngineUnderTest& engine, int w, int h, int maxW, int maxH, int x, int y, int n,
                           bool expectDifferentFromScalar) {
    StandInHost host;
    host.SetTrack(x, y, n);
    lowpass::windowWeights = lowpass::kBlackmanWindow;
    lowpass::InvalidateKernelCache(lowpass::kernelCache);
    FramePair frames(w, h, maxW, maxH);
    frames.edit.FillRandom(static_cast<std::uint32_t>(w * 31 + h), -2048, 4096);
    GuardedFrame source(w, h, maxW, maxH, 9);
    source.CopyPicture(frames.edit);

    EXPECT_EQ(engine.proc(&host.filter, &frames.info), TRUE);
    const int passes = (w > x ? 1 : 0) + (h > y ? 1 : 0);
    EXPECT_EQ(frames.ResultIsOriginalEdit(), passes != 1);
    EXPECT_EQ(lowpass::kernelCache.valid, 1);

    PictureCopy input;
    input.w = w;
    input.h = h;
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px)
            for (int c = 0; c < 3; ++c) input.samples.push_back(Channel(source.at(px, py), c));
    const std::vector<int> want = ExpectedDriverPicture(engine, input, x, y, n, host);
    const GuardedFrame& result = frames.Result();
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(Channel(result.at(px, py), c), want[(static_cast<std::size_t>(py) * w + px) * 3 + c])
                    << engine.name << " driver " << w << "x" << h << " X=" << x << " Y=" << y << " N=" << n
                    << " at (x=" << px << ", y=" << py << ", channel " << c << ")";
    std::string where;
    EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
    EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;

    FramePair scalar(w, h, maxW, maxH);
    scalar.edit.CopyPicture(source);
    lowpass::ProcPortable(&host.filter, &scalar.info);
    if (expectDifferentFromScalar) {
        EXPECT_FALSE(scalar.Result().PictureEquals(result)) << "the " << engine.name << " engine did not run";
    }
}

}  // namespace lowpass::testing
