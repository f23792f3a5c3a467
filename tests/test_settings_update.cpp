// The settings update: the four window boxes as radio buttons with the
// window memory, the weights of the chosen window, the engine written into
// the FILTER the host passed, and the cache invalidated on every call.
#include <gtest/gtest.h>

#include <array>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "plugin/settings_update.h"
#include "simd/cpu_probe.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/engine_procs.h"
#include "tests/support/random_seed.h"

using lowpass::kernelCache;
using lowpass::windowMemory;
using lowpass::standin::StandInHost;

namespace {

using Boxes = std::array<int, 5>;

Boxes CheckOf(const StandInHost& host) {
    return {host.check[0], host.check[1], host.check[2], host.check[3], host.check[4]};
}
Boxes Memory() { return {windowMemory[0], windowMemory[1], windowMemory[2], windowMemory[3], windowMemory[4]}; }

bool SameWeights(const lowpass::WindowWeights& a, const lowpass::WindowWeights& b) {
    return a.a0 == b.a0 && a.a1 == b.a1 && a.a2 == b.a2;
}

// Weights no window has, so that a call that loads none is visible.
constexpr lowpass::WindowWeights kPoison{7.0, 7.0, 7.0};

class SettingsUpdate : public ::testing::Test {
protected:
    void SetUp() override {
        // A fresh load: the export resets the cache, the probe and the memory.
        descriptor = GetFilterTable();
        savedCaps = lowpass::cpuCaps;
        savedImplementations = lowpass::sseImplementations;
        lowpass::cpuCaps = 3;  // MMX and SSE, unless a test says otherwise
        lowpass::sseImplementations = 0;  // neither SSE2 nor AVX2, unless a test says otherwise
        lowpass::windowWeights = kPoison;
    }
    void TearDown() override {
        lowpass::cpuCaps = savedCaps;
        lowpass::sseImplementations = savedImplementations;
    }

    // One func_update as the host makes it, through the host's own record,
    // with the window refresh counted from zero and the cache marked valid
    // beforehand so that the invalidation shows.
    BOOL Update(StandInHost& host, int status = 0) {
        host.windowUpdateCalls = 0;
        kernelCache.valid = 1;
        return host.filter.func_update(&host.filter, status);
    }

    FILTER_DLL* descriptor = nullptr;
    int savedCaps = 0;
    int savedImplementations = 0;
};

}  // namespace

TEST_F(SettingsUpdate, DefaultsOnFirstCallKeepBlackmanAndPickSse) {
    StandInHost host(descriptor);
    ASSERT_EQ(CheckOf(host), (Boxes{1, 0, 0, 0, 1}));
    ASSERT_EQ(host.filter.func_proc, lowpass::ProcPortable);

    EXPECT_EQ(Update(host), TRUE);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 0, 0, 1}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 0, 0, 1}));
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(host.isActiveCalls, 0);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kBlackmanWindow));
    EXPECT_EQ(host.filter.func_proc, lowpass::testing::ProcOf("sse"));
    EXPECT_EQ(kernelCache.valid, 0);
}

TEST_F(SettingsUpdate, EngineFollowsSimdBoxAndProcessor) {
    struct Case {
        int simd;
        int caps;
        int faster;  // sseImplementations
        FilterProcFunc expected;
    };
    using lowpass::testing::ProcOf;
    constexpr int kSse2 = lowpass::kCpuCapsSse2, kAvx2 = lowpass::kCpuCapsAvx2, kAvx512 = lowpass::kCpuCapsAvx512;
    const Case cases[] = {
        {1, 3, 0, ProcOf("sse")},
        {1, 1, 0, ProcOf("mmx")},
        {1, 0, 0, lowpass::ProcPortable},
        {0, 3, 0, lowpass::ProcPortable},  // SIMD off never picks MMX, even with SSE present
        {0, 1, 0, lowpass::ProcPortable},
        {0, 0, 0, lowpass::ProcPortable},
        {2, 3, 0, ProcOf("sse")},  // any non-zero value is "on"
        {1, 2, 0, ProcOf("sse")},  // SSE bit alone (never produced by the probe) still means SSE
        // The SSE arithmetic on the widest registers the processor and the
        // system allow; the box off still means the portable engine.
        {1, 3, kSse2 | kAvx2 | kAvx512, ProcOf("avx512")},
        {1, 3, kSse2 | kAvx2, ProcOf("avx2")},
        {1, 3, kSse2, ProcOf("sse2")},
        {1, 3, kSse2 | kAvx512, ProcOf("sse2")},  // AVX-512 without AVX2 (never probed) is not enough
        {0, 3, kSse2 | kAvx2 | kAvx512, lowpass::ProcPortable},
        {1, 3, kAvx2, ProcOf("sse")},  // AVX2 without SSE2 (never probed) is not enough
        {0, 3, kSse2 | kAvx2, lowpass::ProcPortable},
        {1, 1, kSse2 | kAvx2, ProcOf("mmx")},  // not without SSE in CpuCaps
    };
    for (const Case& c : cases) {
        StandInHost host(descriptor);
        host.check[0] = c.simd;
        lowpass::cpuCaps = c.caps;
        lowpass::sseImplementations = c.faster;
        host.filter.func_proc = nullptr;
        Update(host);
        EXPECT_EQ(host.filter.func_proc, c.expected)
            << "simd " << c.simd << ", caps " << c.caps << ", faster SSE " << c.faster;
        EXPECT_EQ(host.check[0], c.simd) << "the SIMD box is never touched";
    }
}

TEST_F(SettingsUpdate, EngineIsWrittenIntoTheHostsRecordNotTheDescriptor) {
    StandInHost host(descriptor);
    Update(host);
    EXPECT_EQ(host.filter.func_proc, lowpass::testing::ProcOf("sse"));
    EXPECT_EQ(descriptor->func_proc, lowpass::ProcPortable);
}

TEST_F(SettingsUpdate, HanningOverBlackmanMovesTheChoice) {
    StandInHost host(descriptor);
    Update(host);
    host.check[2] = 1;  // the user ticks Hanning while Blackman is chosen
    EXPECT_EQ(Update(host), TRUE);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 1, 0, 0}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 1, 0, 0}));
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kHanningWindow));
    EXPECT_EQ(kernelCache.valid, 0);
}

TEST_F(SettingsUpdate, SwitchingTheChosenBoxOffSwitchesItOnAgain) {
    StandInHost host(descriptor);
    Update(host);
    host.check[4] = 0;
    lowpass::windowWeights = kPoison;
    EXPECT_EQ(Update(host), TRUE);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 0, 0, 1}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 0, 0, 1}));
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kBlackmanWindow));
    EXPECT_EQ(host.filter.func_proc, lowpass::testing::ProcOf("sse"));
}

TEST_F(SettingsUpdate, RectangularAndHammingNewlyOnTogetherRectangularWins) {
    StandInHost host(descriptor);
    Update(host);
    host.check[1] = 1;
    host.check[3] = 1;
    Update(host);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 1, 0, 0, 0}));
    EXPECT_EQ(Memory(), (Boxes{0, 1, 0, 0, 0}));
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kRectangularWindow));
}

TEST_F(SettingsUpdate, SeveralBoxesOnAtFirstCallLowestIndexWins) {
    // The host restored settings with three windows on: all are new to the
    // zeroed memory, and the first one clears the rest.
    StandInHost host(descriptor);
    host.SetCheck(0, 0, 1, 1, 1);
    Update(host);
    EXPECT_EQ(CheckOf(host), (Boxes{0, 0, 1, 0, 0}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 1, 0, 0}));
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kHanningWindow));
    EXPECT_EQ(host.filter.func_proc, lowpass::ProcPortable);
}

TEST_F(SettingsUpdate, NoWindowBoxOnAtFirstCallStaysOffWithBlackmanWeights) {
    StandInHost host(descriptor);
    host.SetCheck(1, 0, 0, 0, 0);
    Update(host);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 0, 0, 0}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 0, 0, 0}));
    EXPECT_EQ(host.windowUpdateCalls, 0);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kBlackmanWindow));
}

TEST_F(SettingsUpdate, SliderChangeAloneRefreshesNothingButInvalidatesAndChoosesAgain) {
    StandInHost host(descriptor);
    Update(host);
    host.SetTrack(640, 360, 7);
    host.filter.func_proc = nullptr;
    lowpass::cpuCaps = 1;
    EXPECT_EQ(Update(host, 12345), TRUE);  // the status word is ignored
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 0, 0, 1}));
    EXPECT_EQ(Memory(), (Boxes{0, 0, 0, 0, 1}));
    EXPECT_EQ(host.windowUpdateCalls, 0);
    EXPECT_EQ(kernelCache.valid, 0);
    EXPECT_EQ(host.filter.func_proc, lowpass::testing::ProcOf("mmx"));
    EXPECT_EQ(host.track[0], 640);
    EXPECT_EQ(host.track[1], 360);
    EXPECT_EQ(host.track[2], 7);
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kBlackmanWindow));
}

TEST_F(SettingsUpdate, NewlyOnBoxWithAnyNonZeroValueBecomesOne) {
    StandInHost host(descriptor);
    Update(host);
    host.check[3] = -1;
    Update(host);
    EXPECT_EQ(CheckOf(host), (Boxes{1, 0, 0, 1, 0}));
    EXPECT_TRUE(SameWeights(lowpass::windowWeights, lowpass::kHammingWindow));
}

TEST_F(SettingsUpdate, EachWindowLoadsItsOwnWeights) {
    const lowpass::WindowWeights expected[] = {lowpass::kRectangularWindow, lowpass::kHanningWindow,
                                               lowpass::kHammingWindow, lowpass::kBlackmanWindow};
    StandInHost host(descriptor);
    Update(host);
    // Walk through the windows in an order that reaches each from another.
    for (int box : {3, 1, 4, 2, 1, 3}) {
        host.check[box] = 1;
        lowpass::windowWeights = kPoison;
        Update(host);
        Boxes want{1, 0, 0, 0, 0};
        want[static_cast<std::size_t>(box)] = 1;
        EXPECT_EQ(CheckOf(host), want) << "box " << box;
        EXPECT_TRUE(SameWeights(lowpass::windowWeights, expected[box - 1])) << "box " << box;
    }
}

TEST_F(SettingsUpdate, RandomClicksKeepExactlyOneWindowOnAndMemoryMirroringIt) {
    // Whatever the user toggles, after every call exactly one window box is
    // on, the memory names it, and a box the user switched on is the one
    // chosen (the lowest of them when several were switched on at once).
    const lowpass::testing::TestSeed seed(41);
    lowpass::standin::Lcg rng(seed);
    StandInHost host(descriptor);
    Update(host);
    for (int step = 0; step < 400; ++step) {
        const Boxes before = CheckOf(host);
        const int toggles = rng.Range(1, 3);
        for (int t = 0; t < toggles; ++t) {
            const int box = rng.Range(0, 4);
            host.check[box] = host.check[box] ? 0 : 1;
        }
        const Boxes clicked = CheckOf(host);
        int firstNew = 0;
        for (int i = 1; i <= 4 && firstNew == 0; ++i)
            if (clicked[static_cast<std::size_t>(i)] && !before[static_cast<std::size_t>(i)]) firstNew = i;
        int previous = 0;
        for (int i = 1; i <= 4; ++i)
            if (before[static_cast<std::size_t>(i)]) previous = i;

        Update(host);
        const Boxes after = CheckOf(host);
        const int chosen = firstNew != 0 ? firstNew : previous;
        Boxes want{clicked[0], 0, 0, 0, 0};
        want[static_cast<std::size_t>(chosen)] = 1;
        ASSERT_EQ(after, want) << "step " << step;
        Boxes memoryWant{0, 0, 0, 0, 0};
        memoryWant[static_cast<std::size_t>(chosen)] = 1;
        ASSERT_EQ(Memory(), memoryWant) << "step " << step;
        // One refresh for the newly chosen box, and one for putting the
        // chosen box back when the scan reaches it before any new one.
        const bool previousOff = !clicked[static_cast<std::size_t>(previous)];
        const int refreshes = (firstNew != 0 ? 1 : 0) + (previousOff && (firstNew == 0 || previous < firstNew) ? 1 : 0);
        ASSERT_EQ(host.windowUpdateCalls, refreshes) << "step " << step;
        ASSERT_EQ(host.filter.func_proc, clicked[0] ? lowpass::testing::ProcOf("sse") : lowpass::ProcPortable) << "step " << step;
    }
}
