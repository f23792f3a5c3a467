// The x87 state after the MMX and SSE frame pass drivers: the vector
// passes leave the processor in MMX state, and only the driver's EMMS
// makes floating-point arithmetic work again. On a 32-bit x86 build the
// floating point of this file runs on the x87 unit, so a driver that
// returned without EMMS would make the arithmetic below produce NaN (x87
// stack overflow), and would leave the x87 tag word marking every register
// in use.
//
// A 64-bit build cannot show a missing EMMS: its floating point runs in SSE
// registers, and GCC carries out the engines' MMX intrinsics in SSE
// registers too (the native objects of the passes hold no MMX instruction;
// the only one is ClearMmxState's EMMS), so the x87 state never changes.
// The check runs on the 32-bit builds (under qemu-i386 and wine).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "simd/mmx_state.h"
#include "simd/pass_mmx.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/engine_procs.h"
#include "tests/support/pass_check.h"
#include "tests/support/random_seed.h"

using lowpass::standin::FramePair;
using lowpass::standin::StandInHost;

#if defined(__i386__)

namespace {

// The x87 tag word from FNSTENV (0xFFFF: every register empty, as after
// EMMS; 0x0000 or anything else: registers in use, as after MMX code).
// FNSTENV masks the exceptions, so the environment is loaded back.
unsigned X87TagWord() {
    unsigned char env[28];
    __asm__ __volatile__("fnstenv %0\n\tfldenv %0" : "=m"(env) : : "memory");
    std::uint16_t tags;
    std::memcpy(&tags, env + 8, 2);
    return tags;
}

void ClearX87Exceptions() { __asm__ __volatile__("fnclex"); }

// A few double computations with known, exact results, on the x87 unit;
// their inputs are volatile so that nothing is folded at compile time.
bool X87ArithmeticWorks(std::string* detail) {
    volatile double a = 1.5, b = 2.25, c = 0.125, d = 3.0;
    const double product = a * b;           // 3.375
    const double sum = product + c;         // 3.5
    const double square = sum * sum;        // 12.25
    const double quotient = square / d;     // 4.083..., checked as square == 3 * quotient within 1 ulp
    volatile double results[4] = {product, sum, square, quotient * d};
    const bool ok = results[0] == 3.375 && results[1] == 3.5 && results[2] == 12.25 &&
                    results[3] > 12.2499999 && results[3] < 12.2500001;
    if (!ok && detail != nullptr)
        *detail = "1.5*2.25=" + std::to_string(results[0]) + " +0.125=" + std::to_string(results[1]) +
                  " squared=" + std::to_string(results[2]) + " /3*3=" + std::to_string(results[3]);
    return ok;
}

class X87State : public ::testing::Test {
protected:
    void SetUp() override {
        savedCaps_ = lowpass::cpuCaps;
        savedCache_ = lowpass::kernelCache;
        savedWeights_ = lowpass::windowWeights;
        lowpass::cpuCaps = lowpass::testing::ProcessorCaps();
        lowpass::windowWeights = lowpass::kBlackmanWindow;
        lowpass::InvalidateKernelCache(lowpass::kernelCache);
    }
    void TearDown() override {
        lowpass::cpuCaps = savedCaps_;
        lowpass::kernelCache = savedCache_;
        lowpass::windowWeights = savedWeights_;
    }

    // Runs a driver on a frame that needs both passes (or none), then reads
    // the tag word and does the arithmetic right after it returns.
    void CheckAfterDriver(BOOL(LP_CDECL* proc)(FILTER*, FILTER_PROC_INFO*), int w, int h) {
        StandInHost host;
        host.SetTrack(64, 48, 7);
        FramePair frames(w, h, w + 3, h + 1);
        const lowpass::testing::TestSeed seed(42);
        frames.edit.FillRandom(seed, -2048, 4096);
        proc(&host.filter, &frames.info);
        const unsigned tags = X87TagWord();
        std::string detail;
        const bool works = X87ArithmeticWorks(&detail);
        lowpass::ClearMmxState();  // whatever happened, leave a clean state for the next test
        ClearX87Exceptions();
        EXPECT_EQ(tags, 0xFFFFu) << "x87 registers still in use after the driver returned (missing EMMS)";
        EXPECT_TRUE(works) << "x87 arithmetic after the driver: " << detail;
    }

private:
    int savedCaps_ = 0;
    lowpass::KernelCache savedCache_{};
    lowpass::WindowWeights savedWeights_{};
};

// A raw MMX pass, without EMMS: the processor is left in MMX state.
void LeaveInMmxState() {
    static PIXEL_YC src[40], dst[40];
    static lowpass::testing::PassTables tables;
    for (int k = 0; k < 5; ++k)
        for (int lane = 0; lane < 4; ++lane) tables.tables.mmxTaps[k][lane] = 3277;
    lowpass::HorizontalPassMmx(tables.Job(src, dst, 40, 1, 40, 2, true));
}

}  // namespace

TEST_F(X87State, TheCheckSeesAMissingEmms) {
    // The control: after an MMX pass without EMMS the tag word shows the
    // registers in use (and on real hardware the arithmetic fails).
    if (!lowpass::testing::ProcessorHasMmx()) GTEST_SKIP() << "this processor has no MMX: nothing can leave MMX state";
    lowpass::ClearMmxState();
    ASSERT_EQ(X87TagWord(), 0xFFFFu);
    LeaveInMmxState();
    const unsigned tags = X87TagWord();
    std::string detail;
    const bool works = X87ArithmeticWorks(&detail);
    lowpass::ClearMmxState();
    ClearX87Exceptions();
    EXPECT_NE(tags, 0xFFFFu) << "an MMX pass left no trace in the tag word";
    std::printf("[ x87 ] after an MMX pass without EMMS: tag word 0x%04x, arithmetic %s\n", tags,
                works ? "still correct (this processor or emulator does not fault)" : ("wrong: " + detail).c_str());
    ASSERT_EQ(X87TagWord(), 0xFFFFu);
    EXPECT_TRUE(X87ArithmeticWorks(&detail)) << detail;
}

TEST_F(X87State, ArithmeticWorksAfterTheMmxDriver) {
    if (!lowpass::testing::ProcessorHasMmx()) GTEST_SKIP() << "this processor has no MMX: the MMX driver is not run";
    CheckAfterDriver(lowpass::testing::ProcOf("mmx"), 97, 71);
}

TEST_F(X87State, ArithmeticWorksAfterTheSseDriver) {
    if (!lowpass::testing::ProcessorHasSse()) GTEST_SKIP() << "this processor has no usable SSE: the SSE driver is not run";
    CheckAfterDriver(lowpass::testing::ProcOf("sse"), 97, 71);
}

TEST_F(X87State, DriverClearsMmxStateEvenWhenNoPassRuns) {
    // The cache is built first, so that the second call runs neither a
    // rebuild (which has its own EMMS) nor a pass: only the driver's EMMS
    // can clear the MMX state left by the raw pass.
    if (!lowpass::testing::ProcessorHasMmx()) GTEST_SKIP() << "this processor has no MMX: the vector drivers are not run";
    for (auto proc : {lowpass::testing::ProcOf("mmx"), lowpass::testing::ProcOf("sse")}) {
        if (proc == lowpass::testing::ProcOf("sse") && !lowpass::testing::ProcessorHasSse()) continue;
        StandInHost host;
        host.SetTrack(64, 48, 7);
        FramePair frames(64, 48, 64, 48);
        proc(&host.filter, &frames.info);
        LeaveInMmxState();
        proc(&host.filter, &frames.info);
        const unsigned tags = X87TagWord();
        std::string detail;
        const bool works = X87ArithmeticWorks(&detail);
        lowpass::ClearMmxState();
        ClearX87Exceptions();
        EXPECT_EQ(tags, 0xFFFFu) << (proc == lowpass::testing::ProcOf("mmx") ? "MMX" : "SSE") << " driver, no pass";
        EXPECT_TRUE(works) << detail;
    }
}

#else

TEST(X87State, OnlyOnThirtyTwoBitBuilds) {
    GTEST_SKIP() << "a 64-bit build carries out the MMX intrinsics and its floating point in SSE registers, so a "
                    "missing EMMS leaves no trace here: the x87 state is checked on the 32-bit build";
}

#endif
