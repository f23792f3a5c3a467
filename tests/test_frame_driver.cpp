// The frame pass driver: which passes run, where the result ends up, when
// the kernel is rebuilt, and that nothing outside the picture is written.
#include <gtest/gtest.h>

#include <string>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/random_seed.h"

using lowpass::kernelCache;
using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::StandInHost;

namespace {

// Records the order of pass calls and what each saw, then runs the real
// scalar pass so the buffers hold a result.
struct PassLog {
    std::string order;
    PIXEL_YC* horizontalSource = nullptr;
    PIXEL_YC* horizontalDestination = nullptr;
    PIXEL_YC* verticalSource = nullptr;
    PIXEL_YC* verticalDestination = nullptr;
    int afterPasses = 0;
};
PassLog passLog;

void LogHorizontal(const lowpass::PassJob& job) {
    passLog.order += 'H';
    passLog.horizontalSource = const_cast<PIXEL_YC*>(job.source);
    passLog.horizontalDestination = job.destination;
    lowpass::HorizontalPassScalar(job);
}
void LogVertical(const lowpass::PassJob& job) {
    passLog.order += 'V';
    passLog.verticalSource = const_cast<PIXEL_YC*>(job.source);
    passLog.verticalDestination = job.destination;
    lowpass::VerticalPassScalar(job);
}
void LogAfter() { ++passLog.afterPasses; }

lowpass::Engine LoggingEngine() {
    lowpass::Engine engine{};
    engine.name = "logging";
    engine.passes = lowpass::PassPair{LogHorizontal, LogVertical, LogAfter};
    engine.unguarded = engine.passes;
    return engine;
}
const lowpass::Engine kLoggingEngine = LoggingEngine();

// The host's func_proc with the logging engine.
BOOL RunDriver(StandInHost& host, FramePair& frames) {
    passLog = PassLog{};
    return lowpass::RunHostFrame(&host.filter, &frames.info, kLoggingEngine);
}

// The two scalar passes by hand, each over the whole picture.
lowpass::PassJob WholeJob(const PIXEL_YC* source, PIXEL_YC* destination, const FILTER_PROC_INFO& info,
                          const lowpass::KernelTables& tables, int n, int lines) {
    return lowpass::PassJob{source, destination, info.w, info.h, info.max_w, n, &tables, kernelCache.roundingBias,
                            0,      lines};
}

// Marks the tables so a rebuild is visible: a rebuild overwrites the mark.
constexpr std::int32_t kMark = 0x12345678;
void MarkTables() { kernelCache.horizontal.fixedTaps[0] = kMark; }
bool Rebuilt() { return kernelCache.horizontal.fixedTaps[0] != kMark; }

class FrameDriver : public ::testing::Test {
protected:
    void SetUp() override {
        lowpass::windowWeights = lowpass::kBlackmanWindow;
        lowpass::InvalidateKernelCache(kernelCache);
        host.SetTrack(320, 240, 15);
    }
    StandInHost host;
};

}  // namespace

TEST_F(FrameDriver, FrameAtTargetSizeRunsNoPassAndKeepsPointers) {
    FramePair frames(320, 240, 330, 244);
    const lowpass::testing::TestSeed seed(1);
    frames.edit.FillRandom(seed, -2048, 4096);
    EXPECT_EQ(RunDriver(host, frames), TRUE);
    EXPECT_EQ(passLog.order, "");
    EXPECT_EQ(passLog.afterPasses, 1);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalEdit);
    EXPECT_EQ(frames.info.ycp_temp, frames.originalTemp);
    // The cache check still ran: the tables fit this frame now.
    EXPECT_EQ(kernelCache.valid, 1);
    EXPECT_EQ(kernelCache.width, 320);
    EXPECT_EQ(kernelCache.height, 240);
}

TEST_F(FrameDriver, WiderOnlyRunsOneHorizontalPassIntoTemp) {
    FramePair frames(321, 240, 325, 241);
    const lowpass::testing::TestSeed seed(2);
    frames.edit.FillRandom(seed, -2048, 4096);
    RunDriver(host, frames);
    EXPECT_EQ(passLog.order, "H");
    EXPECT_EQ(passLog.horizontalSource, frames.originalEdit);
    EXPECT_EQ(passLog.horizontalDestination, frames.originalTemp);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalTemp);
    EXPECT_EQ(frames.info.ycp_temp, frames.originalEdit);
}

TEST_F(FrameDriver, TallerOnlyRunsOneVerticalPass) {
    FramePair frames(300, 241, 300, 241);
    RunDriver(host, frames);
    EXPECT_EQ(passLog.order, "V");
    EXPECT_EQ(passLog.verticalSource, frames.originalEdit);
    EXPECT_EQ(frames.info.ycp_edit, frames.originalTemp);
}

TEST_F(FrameDriver, BothPassesHorizontalFirstResultBackInEdit) {
    FramePair frames(720, 480, 736, 490);
    const lowpass::testing::TestSeed seed(3);
    frames.edit.FillRandom(seed, -2048, 4096);
    GuardedFrame source(720, 480, 736, 490, 5);
    source.CopyPicture(frames.edit);
    RunDriver(host, frames);
    EXPECT_EQ(passLog.order, "HV");
    EXPECT_EQ(passLog.horizontalSource, frames.originalEdit);
    EXPECT_EQ(passLog.verticalSource, frames.originalTemp);
    EXPECT_EQ(passLog.verticalDestination, frames.originalEdit);
    EXPECT_TRUE(frames.ResultIsOriginalEdit());

    // The result equals the two scalar passes run by hand.
    FramePair manual(720, 480, 736, 490);
    manual.edit.CopyPicture(source);
    const FILTER_PROC_INFO& m = manual.info;
    lowpass::HorizontalPassScalar(WholeJob(m.ycp_edit, m.ycp_temp, m, kernelCache.horizontal, 15, m.h));
    lowpass::VerticalPassScalar(WholeJob(m.ycp_temp, m.ycp_edit, m, kernelCache.vertical, 15, m.w));
    std::string where;
    EXPECT_TRUE(frames.edit.PictureEquals(manual.edit, &where)) << where;
    // And it is not a copy of the source: the frame was filtered.
    EXPECT_FALSE(frames.edit.PictureEquals(source));
    EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
    EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
}

TEST_F(FrameDriver, EqualIsNotWiderSignedComparison) {
    host.SetTrack(-5, 100, 3);  // a negative target is below every width
    FramePair frames(40, 100, 40, 100);
    RunDriver(host, frames);
    EXPECT_EQ(passLog.order, "H");
}

TEST_F(FrameDriver, SizeChangeRebuildsUnchangedSizeDoesNot) {
    FramePair first(720, 480, 720, 480);
    RunDriver(host, first);
    MarkTables();
    FramePair same(720, 480, 800, 500);  // stride and allocation do not matter
    RunDriver(host, same);
    EXPECT_FALSE(Rebuilt());
    FramePair narrower(640, 480, 720, 480);
    RunDriver(host, narrower);
    EXPECT_TRUE(Rebuilt());
    EXPECT_EQ(kernelCache.width, 640);
    MarkTables();
    FramePair shorter(640, 400, 720, 480);
    RunDriver(host, shorter);
    EXPECT_TRUE(Rebuilt());
    EXPECT_EQ(kernelCache.height, 400);
}

TEST_F(FrameDriver, InvalidatedCacheWithSameSizeRebuilds) {
    FramePair frames(720, 480, 720, 480);
    RunDriver(host, frames);
    MarkTables();
    lowpass::InvalidateKernelCache(kernelCache);  // as a settings update or the size message does
    FramePair again(720, 480, 720, 480);
    RunDriver(host, again);
    EXPECT_TRUE(Rebuilt());
    EXPECT_EQ(passLog.order, "HV");
}

// A host may change the settings without a settings update (a project
// load, another plug-in writing the values): the first frame after any
// change of X, Y, taps or window still gets a kernel built for it.
TEST_F(FrameDriver, SettingsChangedWithoutAnUpdateRebuild) {
    FramePair frames(720, 480, 720, 480);
    RunDriver(host, frames);
    const auto change = [&](const char* what, auto&& apply) {
        MarkTables();
        apply();
        FramePair again(720, 480, 720, 480);
        RunDriver(host, again);
        EXPECT_TRUE(Rebuilt()) << what;
    };
    change("X", [&] { host.SetTrack(400, 240, 15); });
    change("Y", [&] { host.SetTrack(400, 200, 15); });
    change("taps", [&] { host.SetTrack(400, 200, 14); });
    host.SetTrack(400, 200, 15);
    RunDriver(host, frames);
    change("window", [&] { lowpass::windowWeights = lowpass::kHammingWindow; });
    // The tables now are those of the new settings.
    lowpass::KernelCache fresh{};
    lowpass::RebuildKernel(fresh, lowpass::KernelSettings{400, 200, 15, lowpass::kHammingWindow}, 720, 480);
    for (int k = 0; k < lowpass::kMaxKernelLength; ++k) {
        EXPECT_EQ(kernelCache.horizontal.fixedTaps[k], fresh.horizontal.fixedTaps[k]) << k;
        EXPECT_EQ(kernelCache.vertical.fixedTaps[k], fresh.vertical.fixedTaps[k]) << k;
    }
}

TEST_F(FrameDriver, ScalarDriverWithZeroWeightsPassesFrameThrough) {
    lowpass::windowWeights = lowpass::WindowWeights{0.0, 0.0, 0.0};
    host.SetTrack(320, 240, 3);
    FramePair frames(641, 482, 650, 490);
    const lowpass::testing::TestSeed seed(4);
    frames.edit.FillRandom(seed, -32768, 32767);
    GuardedFrame source(641, 482, 650, 490, 6);
    source.CopyPicture(frames.edit);
    EXPECT_EQ(lowpass::ProcPortable(&host.filter, &frames.info), TRUE);
    EXPECT_TRUE(frames.ResultIsOriginalEdit());
    std::string where;
    EXPECT_TRUE(frames.edit.PictureEquals(source, &where)) << where;
    EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
    EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
}

TEST_F(FrameDriver, ScalarDriverFiltersTinyFramesBelowKernelSize) {
    // A target of 0 x 0 makes every frame "too large", even one pixel.
    host.SetTrack(0, 0, 15);
    for (auto [w, h] : {std::pair{1, 1}, std::pair{1, 7}, std::pair{9, 1}, std::pair{2, 2}}) {
        FramePair frames(w, h, w + 3, h + 2);
        const lowpass::testing::TestSeed seed(static_cast<std::uint32_t>(w * 10 + h));
        frames.edit.FillRandom(seed, 0, 4096);
        RunDriver(host, frames);
        EXPECT_EQ(passLog.order, "HV");
        std::string where;
        EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << w << "x" << h << ": " << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << w << "x" << h << ": " << where;
    }
}
