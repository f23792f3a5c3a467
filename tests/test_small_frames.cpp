// Frames smaller than the kernel after a SizeRequest: the message can set X
// and Y to anything from 0 to 65535, so a frame only a few pixels across or
// down reaches the vector drivers. In such a direction the driver runs the
// portable pass; the other direction keeps its vector pass. Nothing outside
// the pictures is written, and under the sanitizers nothing is read outside
// the buffers.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "plugin/window_messages.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "simd/mmx_state.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/random_seed.h"

using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::StandInHost;

namespace {

// A vector engine of the registry that the 1.x plug-in may use, with its
// passes as they are, without the guard that hands short lines to the
// portable pass.
struct Engine {
    const char* name;
    lowpass::Pass horizontal;
    lowpass::Pass vertical;
    const lowpass::Engine& entry() const { return *lowpass::FindEngine(name); }
    FilterProcFunc driver() const { return lowpass::FrameProcFor(entry()); }
};

std::vector<Engine> VectorEngines() {
    std::vector<Engine> all;
    for (const lowpass::Engine& engine : lowpass::Engines())
        if (engine.samples == lowpass::Samples::Int16 && engine.arithmetic != lowpass::Arithmetic::Portable &&
            (engine.frontEnds & lowpass::kFrontEndAuf) != 0)
            all.push_back(Engine{engine.name, engine.unguarded.horizontal, engine.unguarded.vertical});
    return all;
}

void PrintTo(const Engine& engine, std::ostream* out) { *out << engine.name; }

// One pass over the whole picture of `info`, from ycp_edit into ycp_temp,
// with the tables the plug-in built.
void RunWhole(lowpass::Pass pass, bool horizontal, const FILTER_PROC_INFO& info, int n) {
    const lowpass::KernelCache& cache = lowpass::kernelCache;
    pass(lowpass::PassJob{info.ycp_edit, info.ycp_temp, info.w, info.h, info.max_w, n,
                          horizontal ? &cache.horizontal : &cache.vertical, cache.roundingBias, 0,
                          horizontal ? info.h : info.w});
}

struct Size {
    int w;
    int h;
};

class SmallFrames : public ::testing::TestWithParam<Engine> {
protected:
    void SetUp() override {
        GetFilterTable();
        if (!lowpass::CanRun(GetParam().entry(), lowpass::EngineCaps()))
            GTEST_SKIP() << "this processor or system cannot run the " << GetParam().name << " engine";
        host.filter.func_update(&host.filter, 0);  // Blackman, as the defaults
    }

    // Sets X and Y the way another component does: one SizeRequest.
    void RequestSize(int x, int y) {
        const auto lparam = static_cast<LPARAM>(static_cast<std::uint32_t>(x) | static_cast<std::uint32_t>(y) << 16);
        host.filter.func_WndProc(nullptr, lowpass::kSizeRequest, 0, lparam, nullptr, &host.filter);
        ASSERT_EQ(host.track[0], x);
        ASSERT_EQ(host.track[1], y);
    }

    // Runs the engine's driver on a random frame and compares it with the
    // passes run one by one: the portable pass for a direction whose lines
    // are shorter than 2N + 1, the engine's own pass otherwise.
    void Check(Size size, int maxW, int maxH) {
        const Engine& engine = GetParam();
        const int w = size.w, h = size.h, n = host.track[2];
        const std::string label = std::string(engine.name) + " " + std::to_string(w) + "x" + std::to_string(h) +
                                  " stride " + std::to_string(maxW) + " X=" + std::to_string(host.track[0]) +
                                  " Y=" + std::to_string(host.track[1]) + " N=" + std::to_string(n);
        FramePair frames(w, h, maxW, maxH);
        const lowpass::testing::TestSeed seed(static_cast<std::uint32_t>(w * 131 + h * 7 + n));
        frames.edit.FillRandom(seed, -2048, 4096);
        GuardedFrame source(w, h, maxW, maxH, 11);
        source.CopyPicture(frames.edit);

        EXPECT_EQ(engine.driver()(&host.filter, &frames.info), TRUE) << label;
        const bool across = w > host.track[0];
        const bool down = h > host.track[1];
        EXPECT_EQ(frames.ResultIsOriginalEdit(), across == down) << label;

        // The tables now fit this frame; the reference uses the same ones.
        FramePair expected(w, h, maxW, maxH);
        expected.edit.CopyPicture(source);
        FILTER_PROC_INFO& info = expected.info;
        if (across) {
            RunWhole(w < 2 * n + 1 ? lowpass::HorizontalPassScalar : engine.horizontal, true, info, n);
            std::swap(info.ycp_edit, info.ycp_temp);
        }
        if (down) {
            RunWhole(h < 2 * n + 1 ? lowpass::VerticalPassScalar : engine.vertical, false, info, n);
            std::swap(info.ycp_edit, info.ycp_temp);
        }
        lowpass::ClearMmxState();

        std::string where;
        EXPECT_TRUE(frames.Result().PictureEquals(expected.Result(), &where)) << label << ": " << where;
        EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << label << ": " << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << label << ": " << where;

        // Where both directions are short, the whole frame is the portable
        // engine's: the same bytes as the scalar driver.
        if (w < 2 * n + 1 && h < 2 * n + 1) {
            FramePair scalar(w, h, maxW, maxH);
            scalar.edit.CopyPicture(source);
            lowpass::ProcPortable(&host.filter, &scalar.info);
            EXPECT_TRUE(frames.Result().PictureEquals(scalar.Result(), &where)) << label << ": " << where;
        }
    }

    StandInHost host{GetFilterTable()};
};

}  // namespace

TEST_P(SmallFrames, OnePixelWideAndOneRowFrames) {
    for (int n : {1, 3, 15}) {
        host.track[2] = n;
        const int k = 2 * n + 1;
        for (Size size : {Size{1, 1}, Size{1, 2}, Size{1, k - 1}, Size{1, k}, Size{1, 57}, Size{2, 1},
                          Size{k - 1, 1}, Size{k, 1}, Size{57, 1}}) {
            // Targets below the frame in both directions: X = w/2 is 0 for a
            // one-pixel width.
            RequestSize(size.w / 2, size.h / 2);
            Check(size, size.w, size.h);          // no slack at all
            Check(size, size.w + 3, size.h + 1);  // slack after every row and a spare row
        }
    }
}

TEST_P(SmallFrames, FramesNoLargerThanTheKernelInOneOrBothDirections) {
    for (int n : {2, 7, 15}) {
        host.track[2] = n;
        const int k = 2 * n + 1;
        for (Size size : {Size{k - 1, k - 1}, Size{k - 1, 40}, Size{40, k - 1}, Size{k, k - 1}, Size{k - 1, k},
                          Size{k, k}, Size{3, 5}}) {
            RequestSize(size.w / 3, size.h / 3);
            Check(size, size.w + 1, size.h);
        }
    }
}

TEST_P(SmallFrames, ZeroTargetRunsBothDirections) {
    // lparam 0: X = Y = 0, a cutoff of 0 and every frame "too large".
    host.track[2] = 5;
    RequestSize(0, 0);
    for (Size size : {Size{1, 1}, Size{4, 9}, Size{12, 11}, Size{11, 12}, Size{30, 2}})
        Check(size, size.w + 2, size.h + 2);
}

TEST_P(SmallFrames, TargetEqualToTheFrameLeavesItUntouched) {
    host.track[2] = 15;
    RequestSize(5, 1);
    FramePair frames(5, 1, 5, 1);
    const lowpass::testing::TestSeed seed(3);
    frames.edit.FillRandom(seed, -2048, 4096);
    GuardedFrame source(5, 1, 5, 1, 4);
    source.CopyPicture(frames.edit);
    GetParam().driver()(&host.filter, &frames.info);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalEdit);
    EXPECT_TRUE(frames.edit.PictureEquals(source));
    EXPECT_TRUE(frames.temp.SentinelsIntact());
}

INSTANTIATE_TEST_SUITE_P(Engines, SmallFrames, ::testing::ValuesIn(VectorEngines()),
                         [](const ::testing::TestParamInfo<Engine>& param) { return std::string(param.param.name); });
