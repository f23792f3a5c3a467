// The portable engine's model, a literal per-tap one (test_engines.cpp
// compares the engine with it on random frames, sizes, strides and tables,
// lines shorter than the kernel among them), and the behaviours the other
// engines are compared with.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/pass_check.h"

using lowpass::standin::FramePair;
using lowpass::standin::StandInHost;

namespace {

lowpass::KernelCache kernelCache;

void SetTaps(lowpass::KernelTables& t, const std::vector<std::int32_t>& taps) {
    for (std::size_t k = 0; k < taps.size(); ++k) t.fixedTaps[k] = taps[k];
}

// The arithmetic written out tap by tap: clamp each position, accumulate in
// 64 bits, then take the low 32 bits (the engine's wrap), add 0x8000, shift.
std::int16_t ModelSample(const std::vector<int>& line, int x, const std::int32_t* taps, int n) {
    std::int64_t sum = 0;
    const int length = static_cast<int>(line.size());
    for (int k = 0; k <= 2 * n; ++k) {
        int pos = x + k - n;
        if (pos < 0) pos = 0;
        if (pos > length - 1) pos = length - 1;
        sum += static_cast<std::int64_t>(line[pos]) * taps[k];
    }
    const auto low32 = static_cast<std::uint32_t>(static_cast<std::uint64_t>(sum));
    const std::int64_t wrapped = low32 >= 0x80000000u ? static_cast<std::int64_t>(low32) - 0x100000000LL
                                                       : static_cast<std::int64_t>(low32);
    const std::int64_t rounded = wrapped + 0x8000;
    const std::int64_t rounded32 = rounded > INT32_MAX ? rounded - 0x100000000LL : rounded;
    const std::int64_t shifted = rounded32 >= 0 ? rounded32 / 65536 : -((-rounded32 + 65535) / 65536);
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint64_t>(shifted) & 0xffffu));
}

// Runs one pass of the scalar engine on a frame pair, over the whole
// picture: source is edit, N is the host's taps slider.
lowpass::PassJob JobFor(const StandInHost& host, const FramePair& frames, bool horizontal) {
    const FILTER_PROC_INFO& i = frames.info;
    return lowpass::PassJob{i.ycp_edit,    i.ycp_temp,
                            i.w,           i.h,
                            i.max_w,       host.track[2],
                            horizontal ? &kernelCache.horizontal : &kernelCache.vertical,
                            kernelCache.roundingBias,
                            0,             horizontal ? i.h : i.w};
}
void RunHorizontal(StandInHost& host, FramePair& frames) { lowpass::HorizontalPassScalar(JobFor(host, frames, true)); }
void RunVertical(StandInHost& host, FramePair& frames) { lowpass::VerticalPassScalar(JobFor(host, frames, false)); }

std::vector<int> ScalarLine(const std::vector<int>& samples, const lowpass::KernelTables& t, int n, bool) {
    std::vector<int> out;
    for (int x = 0; x < static_cast<int>(samples.size()); ++x) out.push_back(ModelSample(samples, x, t.fixedTaps, n));
    return out;
}

}  // namespace

void lowpass::testing::ScalarModelAcross(const PassJob& job) { RunLineModel(job, true, ScalarLine); }
void lowpass::testing::ScalarModelDown(const PassJob& job) { RunLineModel(job, false, ScalarLine); }

TEST(ScalarPasses, UnitImpulseCopiesEverySixteenBitValue) {
    StandInHost host;
    host.SetTrack(1, 1, 2);
    SetTaps(kernelCache.horizontal, {0, 0, 65536, 0, 0});
    SetTaps(kernelCache.vertical, {0, 0, 65536, 0, 0});
    // 65536 values as a 256 x 256 frame, each sample channel shifted.
    FramePair frames(256, 256, 259, 257);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            const int v = y * 256 + x - 32768;
            frames.edit.at(x, y) = PIXEL_YC{static_cast<std::int16_t>(v), static_cast<std::int16_t>(-1 - v),
                                            static_cast<std::int16_t>(v ^ 0x5555)};
        }
    for (bool horizontal : {true, false}) {
        frames.info.ycp_edit = frames.originalEdit;
        frames.info.ycp_temp = frames.originalTemp;
        horizontal ? RunHorizontal(host, frames) : RunVertical(host, frames);
        std::string where;
        EXPECT_TRUE(frames.temp.PictureEquals(frames.edit, &where)) << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
    }
}

TEST(ScalarPasses, ConstantRowWithRectangularKernelKeeps4096) {
    StandInHost host;
    host.SetTrack(320, 240, 3);
    SetTaps(kernelCache.horizontal, {-4881, 0, 14645, 46009, 14645, 0, -4881});  // sums to 65537
    FramePair frames(640, 2, 640, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 640; ++x) frames.edit.at(x, y) = PIXEL_YC{4096, -2048, 2048};
    RunHorizontal(host, frames);
    for (int x = 0; x < 640; ++x) {
        ASSERT_EQ(frames.temp.at(x, 1).y, 4096) << x;
        // -2048 * 65537 / 65536 = -2048.03..., rounds to -2048
        ASSERT_EQ(frames.temp.at(x, 1).cb, -2048) << x;
        ASSERT_EQ(frames.temp.at(x, 1).cr, 2048) << x;
    }
}

TEST(ScalarPasses, RowNarrowerThanKernelClampsAtBothEnds) {
    StandInHost host;
    host.SetTrack(1, 1, 3);
    // Taps that tell offsets apart: the leftmost and rightmost taps weigh
    // positions far outside a three-pixel row.
    SetTaps(kernelCache.horizontal, {65536, 0, 0, 0, 0, 0, 2 * 65536});
    FramePair frames(3, 1, 4, 1);
    frames.edit.at(0, 0).y = 10;
    frames.edit.at(1, 0).y = 200;
    frames.edit.at(2, 0).y = 3000;
    RunHorizontal(host, frames);
    // Every output: leftmost tap clamps to pixel 0, rightmost to pixel 2.
    for (int x = 0; x < 3; ++x) EXPECT_EQ(frames.temp.at(x, 0).y, 10 + 2 * 3000) << x;
    std::string where;
    EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
}

TEST(ScalarPasses, BrightPixelAtLeftEdgeSpreadsOnlyRight) {
    StandInHost host;
    host.SetTrack(1, 1, 2);
    SetTaps(kernelCache.horizontal, {4096, 16384, 24576, 16384, 4096});
    FramePair frames(8, 1, 8, 1);
    frames.edit.at(0, 0).y = 1000;
    RunHorizontal(host, frames);
    // Output 0 collects taps 0..2 (all on pixel 0): 1000 * 45056 / 65536.
    EXPECT_EQ(frames.temp.at(0, 0).y, 688);
    EXPECT_EQ(frames.temp.at(1, 0).y, 313);  // taps 0 and 1 on pixel 0: 312.5 rounds up
    EXPECT_EQ(frames.temp.at(2, 0).y, 63);   // tap 0 on pixel 0: 62.5 rounds up
    for (int x = 3; x < 8; ++x) EXPECT_EQ(frames.temp.at(x, 0).y, 0) << x;
}

TEST(ScalarPasses, RingingOvershootIsKeptNotClamped) {
    StandInHost host;
    host.SetTrack(1, 1, 3);
    SetTaps(kernelCache.horizontal, {-4881, 0, 14645, 46009, 14645, 0, -4881});
    FramePair frames(12, 1, 12, 1);
    for (int x = 0; x < 12; ++x) frames.edit.at(x, 0).y = x < 6 ? 0 : 4096;
    RunHorizontal(host, frames);
    int lowest = 0, highest = 0;
    for (int x = 0; x < 12; ++x) {
        lowest = std::min<int>(lowest, frames.temp.at(x, 0).y);
        highest = std::max<int>(highest, frames.temp.at(x, 0).y);
    }
    // -4881/65536 of a 4096 step below zero and above 4096.
    EXPECT_EQ(lowest, -305);
    EXPECT_EQ(highest, 4096 + 305);
}

TEST(ScalarPasses, SumsWrapAtThirtyTwoBitsWithoutUndefinedBehaviour) {
    StandInHost host;
    host.SetTrack(1, 1, 1);
    // 32767 * 3 * 40000 = 3.93e9 wraps past 2^31; the sanitizer build would
    // stop on a signed overflow.
    SetTaps(kernelCache.horizontal, {40000, 40000, 40000});
    FramePair frames(3, 1, 3, 1);
    for (int x = 0; x < 3; ++x) frames.edit.at(x, 0) = PIXEL_YC{32767, -32768, 1};
    RunHorizontal(host, frames);
    const std::int64_t sumY = 32767LL * 120000;
    const auto wrappedY = static_cast<std::int32_t>(static_cast<std::uint32_t>(sumY + 0x8000));
    EXPECT_EQ(frames.temp.at(1, 0).y, static_cast<std::int16_t>(wrappedY >> 16));
    EXPECT_EQ(frames.temp.at(1, 0).y, -5538);  // the 32-bit sum wraps negative
    const std::int64_t sumCb = -32768LL * 120000;
    const auto wrappedCb = static_cast<std::int32_t>(static_cast<std::uint32_t>(sumCb + 0x8000));
    EXPECT_EQ(frames.temp.at(1, 0).cb, static_cast<std::int16_t>(wrappedCb >> 16));
    EXPECT_EQ(frames.temp.at(1, 0).cb, 5536);  // and the negative one wraps positive
    EXPECT_EQ(frames.temp.at(1, 0).cr, 2);  // 1 * 120000 / 65536 = 1.83 -> 2
}

TEST(ScalarPasses, HalvesRoundUpIncludingNegativeHalves) {
    StandInHost host;
    host.SetTrack(1, 1, 1);
    SetTaps(kernelCache.vertical, {0, 32768, 0});  // times one half
    FramePair frames(4, 3, 5, 3);
    const int values[4] = {3, -3, 1, -1};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) frames.edit.at(x, y).y = static_cast<std::int16_t>(values[x]);
    RunVertical(host, frames);
    EXPECT_EQ(frames.temp.at(0, 1).y, 2);   // 1.5 -> 2
    EXPECT_EQ(frames.temp.at(1, 1).y, -1);  // -1.5 -> -1
    EXPECT_EQ(frames.temp.at(2, 1).y, 1);   // 0.5 -> 1
    EXPECT_EQ(frames.temp.at(3, 1).y, 0);   // -0.5 -> 0
}
