// func_proc on a host that lends its worker threads (exec_multi_thread_func).
// For every engine the processor runs, 1 to 8 threads give the frame one
// thread gives, also where the bands are narrower than the kernel (0, 1 or
// 2 lines each) and where both passes run at once in blocks; the workers convert under the calling thread's SSE
// rounding mode, get their own mode back and are left out of MMX state; a
// service that fails, runs only some workers or reports no threads still
// gets the whole frame filtered.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "simd/mxcsr.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/random_seed.h"
#include "tools/threads/thread_pool.h"

using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::StandInHost;

namespace {

struct Shape {
    int w, h, maxW;
    int x, y, n;
};

// Both passes run on each. With up to 8 threads the rows (across) and the
// columns (down) fall into bands of 0, 1 or 2 lines, far narrower than the
// kernel's 2N + 1, so every band edge lies inside its reach.
constexpr Shape kShapes[] = {
    {40, 11, 44, 32, 8, 7},   // 11 rows: bands of 1 and 2 rows; 40 columns, 5 per band
    {6, 37, 9, 3, 32, 2},     // 6 columns: bands of 0 and 1 column down
    {97, 5, 100, 64, 2, 3},   // 5 rows: bands of 0 and 1 row across; too short for the kernel down
    {123, 45, 130, 61, 22, 15},
    {257, 70, 264, 100, 30, 4},  // long enough for the wide engines' blocks and strips
    // Both passes at once where the wide engines take them (N = 1 for all
    // of them): two and four blocks of rows, fewer than threads.
    {301, 150, 305, 200, 100, 3},
    {97, 400, 99, 60, 100, 1},
};

// The banded calls a frame of that shape takes: one per pass, or, where the
// engine computes both passes at once, one for the rows near block
// boundaries (if there are any) and one for the blocks.
int BandedCalls(const lowpass::Engine& engine, const Shape& s) {
    const lowpass::PassPair& p = engine.passes;
    const bool across = s.w > s.x, down = s.h > s.y;
    if (across && down && p.fused != nullptr && s.n <= p.fusedTaps && s.w >= 2 * s.n + 1 && s.h >= 2 * s.n + 1)
        return lowpass::FusedBlocks(s.h, s.n).count() > 1 ? 2 : 1;
    return (across ? 1 : 0) + (down ? 1 : 0);
}

std::string Label(const Shape& s) {
    return std::to_string(s.w) + "x" + std::to_string(s.h) + " X=" + std::to_string(s.x) +
           " Y=" + std::to_string(s.y) + " N=" + std::to_string(s.n);
}

// The x87 tag word (0xFFFF: every register empty; anything else after MMX
// code that left its state). Only a 32-bit build keeps MMX registers apart
// from the SSE ones.
#if defined(__i386__)
unsigned X87TagWord() {
    unsigned char env[28];
    __asm__ __volatile__("fnstenv %0\n\tfldenv %0" : "=m"(env) : : "memory");
    return static_cast<unsigned>(env[8] | env[9] << 8);
}
#endif

class HostThreads : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        GetFilterTable();
        engine_ = &lowpass::Engines()[GetParam()];
        if (!lowpass::CanRun(*engine_, lowpass::EngineCaps()))
            GTEST_SKIP() << "this processor or system cannot run the " << engine_->name << " engine";
        host_ = std::make_unique<StandInHost>(GetFilterTable());
        host_->filter.func_update(&host_->filter, 0);  // Blackman, as the defaults
    }

    // Filters a random frame of that shape through the engine's func_proc
    // with the host's service as it is set now.
    std::unique_ptr<FramePair> Filter(const Shape& s) {
        host_->SetTrack(s.x, s.y, s.n);
        auto frames = std::make_unique<FramePair>(s.w, s.h, s.maxW, s.h + 2);
        const lowpass::testing::TestSeed seed(static_cast<std::uint32_t>(s.w * 7 + s.h));
        frames->edit.FillRandom(seed, -2048, 4096);
        EXPECT_EQ(lowpass::FrameProcFor(*engine_)(&host_->filter, &frames->info), TRUE);
        std::string where;
        EXPECT_TRUE(frames->edit.SentinelsIntact(&where)) << where;
        EXPECT_TRUE(frames->temp.SentinelsIntact(&where)) << where;
        return frames;
    }

    // The frame with no service: the whole pass on the calling thread.
    std::unique_ptr<FramePair> OneThread(const Shape& s) {
        host_->SetThreads(0);
        return Filter(s);
    }

    void ExpectSame(const FramePair& got, const FramePair& want, const std::string& label) {
        std::string where;
        EXPECT_EQ(got.ResultIsOriginalEdit(), want.ResultIsOriginalEdit()) << label;
        EXPECT_TRUE(got.Result().PictureEquals(want.Result(), &where)) << label << ": " << where;
    }

    const lowpass::Engine* engine_ = nullptr;
    std::unique_ptr<StandInHost> host_;
};

TEST_P(HostThreads, OneToEightThreadsGiveTheOneThreadFrame) {
    for (const Shape& s : kShapes) {
        const auto want = OneThread(s);
        for (int threads = 1; threads <= 8; ++threads) {
            host_->SetThreads(threads);
            const auto got = Filter(s);
            const std::string label = std::string(engine_->name) + " " + Label(s) + ", " + std::to_string(threads) +
                                      " threads";
            ExpectSame(*got, *want, label);
#if defined(__i386__)
            // Each worker is handed back out of MMX state.
            unsigned tags[8] = {};
            auto readTags = [&tags](int id, int) { tags[id] = X87TagWord(); };
            ASSERT_TRUE(host_->pool->ForEachThread(readTags));
            for (int id = 0; id < threads; ++id)
                EXPECT_EQ(tags[id], 0xFFFFu) << label << ": x87 tag word of thread " << id;
#endif
        }
    }
}

// Services that do not run every worker once: each is counted, so that the
// test knows the plug-in called it.
int serviceCalls = 0;

BOOL LP_CDECL FailsRunningNothing(ExFuncThreadBody, void*, void*) {
    ++serviceCalls;
    return FALSE;
}

BOOL LP_CDECL RunsWorkersZeroAndTwoOfThreeThenFails(ExFuncThreadBody body, void* p1, void* p2) {
    ++serviceCalls;
    body(0, 3, p1, p2);
    body(2, 3, p1, p2);
    return FALSE;
}

BOOL LP_CDECL ReportsNoThreads(ExFuncThreadBody body, void* p1, void* p2) {
    ++serviceCalls;
    body(0, 0, p1, p2);
    body(0, -1, p1, p2);
    return TRUE;
}

// Worker 1 of 2 twice, ids outside the count, and a second count: only
// band 1 of 2 runs on the "workers"; band 0 is left to the caller.
BOOL LP_CDECL RepeatsAndMiscounts(ExFuncThreadBody body, void* p1, void* p2) {
    ++serviceCalls;
    body(1, 2, p1, p2);
    body(1, 2, p1, p2);
    body(2, 2, p1, p2);
    body(-1, 2, p1, p2);
    body(0, 3, p1, p2);
    return TRUE;
}

TEST_P(HostThreads, AServiceThatFailsOrSkipsWorkersStillGetsTheWholeFrame) {
    const struct {
        const char* name;
        ExFuncMultiThreadFunc exec;
    } services[] = {
        {"returns FALSE, runs nothing", FailsRunningNothing},
        {"runs workers 0 and 2 of 3, returns FALSE", RunsWorkersZeroAndTwoOfThreeThenFails},
        {"thread_num 0 and -1", ReportsNoThreads},
        {"repeated, out-of-range and miscounted workers", RepeatsAndMiscounts},
    };
    for (const Shape& s : kShapes) {
        const auto want = OneThread(s);
        for (const auto& service : services) {
            host_->exfunc.exec_multi_thread_func = service.exec;
            serviceCalls = 0;
            const auto got = Filter(s);
            const std::string label = std::string(engine_->name) + " " + Label(s) + ", service " + service.name;
            EXPECT_EQ(serviceCalls, BandedCalls(*engine_, s)) << label << ": one call per banded step";
            ExpectSame(*got, *want, label);
        }
    }
}

std::string EngineName(const ::testing::TestParamInfo<std::size_t>& info) {
    return lowpass::Engines()[info.param].name;
}

INSTANTIATE_TEST_SUITE_P(Engines, HostThreads, ::testing::Range<std::size_t>(0, lowpass::Engines().size()), EngineName);

// The float engines round their sums under the calling thread's MXCSR.
// Round toward zero in the caller: four threads give what one thread gives
// under that mode, which is not what round-to-nearest gives; the caller
// keeps its mode and each worker gets its own back.
TEST(HostThreadsMxcsr, WorkersConvertUnderTheCallersRoundingMode) {
    GetFilterTable();
    if ((lowpass::cpuCaps & lowpass::kCpuCapsSse) == 0) GTEST_SKIP() << "this processor or system has no usable SSE";
    const Shape s{64, 40, 70, 32, 20, 3};
    int engines = 0;
    for (const lowpass::Engine& engine : lowpass::Engines()) {
        if ((engine.needs & lowpass::kCpuCapsSse) == 0 || !lowpass::CanRun(engine, lowpass::EngineCaps())) continue;
        ++engines;
        StandInHost host(GetFilterTable());
        host.filter.func_update(&host.filter, 0);
        host.SetTrack(s.x, s.y, s.n);
        const FilterProcFunc proc = lowpass::FrameProcFor(engine);
        auto filter = [&] {
            auto frames = std::make_unique<FramePair>(s.w, s.h, s.maxW, s.h);
            const lowpass::testing::TestSeed seed(5);
            frames->edit.FillRandom(seed, -2048, 4096);
            EXPECT_EQ(proc(&host.filter, &frames->info), TRUE);
            return frames;
        };
        const auto nearest = filter();  // no service, the default mode

        // The workers start now, under the caller's default mode.
        host.SetThreads(4);
        const std::uint32_t saved = lowpass::ReadMxcsr();
        const std::uint32_t towardZero = (saved & ~lowpass::kMxcsrRoundingMask) | lowpass::kMxcsrRoundTowardZero;
        lowpass::WriteMxcsr(towardZero);
        const auto fourThreads = filter();
        const std::uint32_t callerAfter = lowpass::ReadMxcsr();
        host.SetThreads(0);
        const auto oneThread = filter();
        lowpass::WriteMxcsr(saved);

        std::string where;
        EXPECT_TRUE(fourThreads->Result().PictureEquals(oneThread->Result(), &where))
            << engine.name << ", round toward zero, 4 threads vs 1: " << where;
        EXPECT_FALSE(oneThread->Result().PictureEquals(nearest->Result()))
            << engine.name << ": the frame does not show the rounding mode";
        EXPECT_EQ(callerAfter & lowpass::kMxcsrRoundingMask, lowpass::kMxcsrRoundTowardZero) << engine.name;

        host.SetThreads(4);
        // A fresh pool: run a frame again, then read every worker's mode.
        lowpass::WriteMxcsr(towardZero);
        filter();
        lowpass::WriteMxcsr(saved);
        std::uint32_t modes[4] = {};
        auto readModes = [&modes](int id, int) { modes[id] = lowpass::ReadMxcsr(); };
        ASSERT_TRUE(host.pool->ForEachThread(readModes));
        for (int id = 0; id < 4; ++id)
            EXPECT_EQ(modes[id] & lowpass::kMxcsrRoundingMask, saved & lowpass::kMxcsrRoundingMask)
                << engine.name << ": rounding mode of thread " << id << " after the frame";
    }
    EXPECT_GT(engines, 0);
}

// The pool the stand-in hosts lend: every thread_id once per call, all of
// them done on return; a call from inside one of its bodies is refused
// (FALSE through the service), as its workers are busy.
TEST(ThreadPool, RunsEveryThreadOncePerCallAndRefusesANestedCall) {
    for (int threads = 1; threads <= 5; ++threads) {
        lowpass::threads::ThreadPool pool(threads);
        lowpass::threads::SetHostPool(&pool);
        std::atomic<int> runs[5] = {};
        std::atomic<int> nestedAccepted{0};
        auto body = [&](int id, int num) {
            EXPECT_EQ(num, threads);
            if (id >= 0 && id < threads) ++runs[id];
            auto inner = [](int, int) {};
            if (pool.ForEachThread(inner)) ++nestedAccepted;
            if (lowpass::threads::ExecOnHostPool([](int, int, void*, void*) {}, nullptr, nullptr)) ++nestedAccepted;
        };
        for (int call = 0; call < 50; ++call) {
            ASSERT_TRUE(pool.ForEachThread(body));
            for (int id = 0; id < threads; ++id) ASSERT_EQ(runs[id].load(), call + 1) << threads << " threads, id " << id;
        }
        EXPECT_EQ(nestedAccepted.load(), 0) << threads << " threads";
    }
    EXPECT_EQ(lowpass::threads::HostPool(), nullptr) << "a pool that is gone is no host pool";
}

}  // namespace
