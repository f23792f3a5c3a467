// The descriptor the export returns: every value the host reads, the texts
// as code page 932 bytes, and the state the export resets.
#include <gtest/gtest.h>

#include <string>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "plugin/settings_update.h"
#include "plugin/window_messages.h"
#include "simd/cpu_probe.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/engine_procs.h"
#include "tests/support/random_seed.h"

using lowpass::kernelCache;
using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::StandInHost;

namespace {

// Shift-JIS bytes of the Japanese texts.
const std::string kName = "\x92\xe1\x88\xe6\x92\xca\x89\xdf\x83\x74\x83\x42\x83\x8b\x83\x5e";  // 低域通過フィルタ
const std::string kTaps = "\x83\x5e\x83\x62\x83\x76";                                          // タップ
const std::string kRectangular = "\x95\xfb\x8c\x60\x94\x67\x91\x8b";                           // 方形波窓
const std::string kHanning = "\x83\x6e\x83\x6a\x83\x93\x83\x4f\x91\x8b";                       // ハニング窓
const std::string kHamming = "\x83\x6e\x83\x7e\x83\x93\x83\x4f\x91\x8b";                       // ハミング窓
const std::string kBlackman = "\x83\x75\x83\x89\x83\x62\x83\x4e\x83\x7d\x83\x93\x91\x8b";       // ブラックマン窓

std::string Bytes(const char* text) { return text == nullptr ? std::string("(null)") : std::string(text); }

class Descriptor : public ::testing::Test {
protected:
    void SetUp() override { table = GetFilterTable(); }
    FILTER_DLL* table = nullptr;
};

}  // namespace

TEST_F(Descriptor, HeaderNameAndFlag) {
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->flag, 0x00080000);
    EXPECT_EQ(table->x, 0);
    EXPECT_EQ(table->y, 0);
    EXPECT_EQ(Bytes(table->name), kName);
}

TEST_F(Descriptor, SlidersValueForValueInOrder) {
    ASSERT_EQ(table->track_n, 3);
    ASSERT_NE(table->track_name, nullptr);
    EXPECT_EQ(Bytes(table->track_name[0]), "X");
    EXPECT_EQ(Bytes(table->track_name[1]), "Y");
    EXPECT_EQ(Bytes(table->track_name[2]), kTaps);
    const int defaults[] = {320, 240, 3};
    const int minimums[] = {32, 32, 1};
    const int maximums[] = {856, 576, 15};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(table->track_default[i], defaults[i]) << "slider " << i;
        EXPECT_EQ(table->track_s[i], minimums[i]) << "slider " << i;
        EXPECT_EQ(table->track_e[i], maximums[i]) << "slider " << i;
    }
}

TEST_F(Descriptor, CheckBoxesValueForValueInOrder) {
    ASSERT_EQ(table->check_n, 5);
    ASSERT_NE(table->check_name, nullptr);
    EXPECT_EQ(Bytes(table->check_name[0]), "SIMD");
    EXPECT_EQ(Bytes(table->check_name[1]), kRectangular);
    EXPECT_EQ(Bytes(table->check_name[2]), kHanning);
    EXPECT_EQ(Bytes(table->check_name[3]), kHamming);
    EXPECT_EQ(Bytes(table->check_name[4]), kBlackman);
    const int defaults[] = {1, 0, 0, 0, 1};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(table->check_default[i], defaults[i]) << "box " << i;
}

TEST_F(Descriptor, InformationTextNamesFilterAndVersion) {
    // The flag makes the host show it, so it must be there.
    ASSERT_NE(table->information, nullptr);
    EXPECT_EQ(Bytes(table->information), kName + " Ver 0.3.5 by lowpass developers");
}

TEST_F(Descriptor, CallbacksAndEverythingElseNull) {
    EXPECT_EQ(table->func_proc, lowpass::ProcPortable);
    EXPECT_EQ(table->func_update, &lowpass::UpdateSettings);
    EXPECT_EQ(table->func_WndProc, &lowpass::HandleWindowMessage);

    EXPECT_EQ(table->func_init, nullptr);
    EXPECT_EQ(table->func_exit, nullptr);
    EXPECT_EQ(table->track, nullptr);
    EXPECT_EQ(table->check, nullptr);
    EXPECT_EQ(table->ex_data_ptr, nullptr);
    EXPECT_EQ(table->ex_data_size, 0);
    EXPECT_EQ(table->func_save_start, nullptr);
    EXPECT_EQ(table->func_save_end, nullptr);
    EXPECT_EQ(table->exfunc, nullptr);
    EXPECT_EQ(table->hwnd, nullptr);
    EXPECT_EQ(table->dll_hinst, nullptr);
    EXPECT_EQ(table->ex_data_def, nullptr);
    EXPECT_EQ(table->func_is_saveframe, nullptr);
    EXPECT_EQ(table->func_project_load, nullptr);
    EXPECT_EQ(table->func_project_save, nullptr);
    EXPECT_EQ(table->func_modify_title, nullptr);
    EXPECT_EQ(table->dll_path, nullptr);
    EXPECT_EQ(table->reserve[0], 0);
    EXPECT_EQ(table->reserve[1], 0);
}

TEST_F(Descriptor, EveryCallResetsStateAndReturnsTheSameRecord) {
    for (int round = 0; round < 2; ++round) {
        kernelCache.valid = 1;
        lowpass::cpuCaps = 99;
        for (int& m : lowpass::windowMemory) m = 1;
        FILTER_DLL* again = GetFilterTable();
        EXPECT_EQ(again, table) << "round " << round;
        EXPECT_EQ(kernelCache.valid, 0) << "round " << round;
        EXPECT_EQ(lowpass::cpuCaps, lowpass::ComposeCpuCaps()) << "round " << round;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(lowpass::windowMemory[i], 0) << "round " << round << " entry " << i;
    }
}

TEST_F(Descriptor, ForgottenMemoryMakesRestoredBoxNewAgain) {
    // Hanning was chosen before the reload; the host restores it. After the
    // export's reset, the first update takes it as newly on and refreshes.
    StandInHost host(table);
    host.SetCheck(1, 0, 1, 0, 0);
    host.filter.func_update(&host.filter, 0);
    EXPECT_EQ(lowpass::windowMemory[2], 1);
    host.windowUpdateCalls = 0;
    host.filter.func_update(&host.filter, 0);
    EXPECT_EQ(host.windowUpdateCalls, 0);  // remembered: nothing to do

    GetFilterTable();
    host.filter.func_update(&host.filter, 0);
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(lowpass::windowMemory[2], 1);
}

TEST_F(Descriptor, FirstFrameAfterLoadPassesThroughUntilFirstUpdate) {
    // At load the window weights are zero (static storage), which makes the
    // kernel a unit impulse. Tests before this one may have set them, so the
    // load state is restored here; the dlopen test sees the real one.
    lowpass::windowWeights = lowpass::WindowWeights{};
    StandInHost host(table);  // defaults: Blackman box on, SIMD on
    kernelCache.valid = 1;
    kernelCache.width = 720;
    kernelCache.height = 480;
    GetFilterTable();

    FramePair frames(720, 480, 724, 482);
    const lowpass::testing::TestSeed seed(17);
    frames.edit.FillRandom(seed, -3000, 6000);
    GuardedFrame source(720, 480, 724, 482, 3);
    source.CopyPicture(frames.edit);
    EXPECT_EQ(host.filter.func_proc(&host.filter, &frames.info), TRUE);
    EXPECT_EQ(kernelCache.valid, 1);  // rebuilt after the export invalidated it
    EXPECT_EQ(kernelCache.horizontal.fixedTaps[3], 65536);  // unit impulse centre
    EXPECT_EQ(kernelCache.horizontal.fixedTaps[2], 0);
    std::string where;
    EXPECT_TRUE(frames.ResultIsOriginalEdit());  // both passes ran
    EXPECT_TRUE(frames.Result().PictureEquals(source, &where)) << where;
    EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
    EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;

    // The first update loads the Blackman window: now the frame is filtered.
    host.filter.func_update(&host.filter, 0);
    FramePair second(720, 480, 724, 482);
    second.edit.CopyPicture(source);
    host.filter.func_proc(&host.filter, &second.info);
    EXPECT_FALSE(second.Result().PictureEquals(source));
}
