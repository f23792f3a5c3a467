// The processor probe: the composition 0 / 1 / 3 from injected
// processor answers, the native answer on this machine, the real
// illegal-instruction guard, and, when LOWPASS_EXPECT_CPU_CAPS is set (the
// emulated-processor runs set it), that the probe saw the processor the run
// was started on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "simd/cpu_probe.h"

#if !defined(_WIN32)
#include <csignal>
#endif

using lowpass::CpuProbeOps;
using lowpass::SseTrial;

namespace {

constexpr std::uint32_t kMmxBit = 1u << 23;
constexpr std::uint32_t kSseBit = 1u << 25;

// The injected processor: what CPUID leaf 1 puts in EDX and how the XORPS
// trial ends, with a count of trials.
std::uint32_t fakeEdx = 0;
SseTrial fakeTrial = SseTrial::Completed;
int fakeTrials = 0;

std::uint32_t FakeCpuid() { return fakeEdx; }
SseTrial FakeTrial() {
    ++fakeTrials;
    return fakeTrial;
}
const CpuProbeOps kFake{FakeCpuid, FakeTrial, nullptr, nullptr, nullptr, nullptr};

struct Answer {
    int hasMmx, hasUsableSse, caps, trials;
};

Answer Probe(std::uint32_t edx, SseTrial trial) {
    fakeEdx = edx;
    fakeTrial = trial;
    Answer a{};
    fakeTrials = 0;
    a.hasMmx = lowpass::HasMmx(kFake);
    a.hasUsableSse = lowpass::HasUsableSse(kFake);
    fakeTrials = 0;
    a.caps = lowpass::ComposeCpuCaps(kFake);
    a.trials = fakeTrials;
    return a;
}

}  // namespace

TEST(CpuProbe, NoMmxNoSseGivesZero) {
    const Answer a = Probe(0, SseTrial::Completed);
    EXPECT_EQ(a.hasMmx, 0);
    EXPECT_EQ(a.hasUsableSse, 0);
    EXPECT_EQ(a.caps, 0);
    EXPECT_EQ(a.trials, 0);
}

TEST(CpuProbe, SseReportedWithoutMmxGivesZero) {
    // SSE is only probed when MMX is present: no trial, CpuCaps 0.
    for (SseTrial trial : {SseTrial::Completed, SseTrial::IllegalInstruction, SseTrial::OtherFault}) {
        const Answer a = Probe(kSseBit, trial);
        EXPECT_EQ(a.hasMmx, 0);
        EXPECT_EQ(a.hasUsableSse, 0);
        EXPECT_EQ(a.caps, 0);
        EXPECT_EQ(a.trials, 0);
    }
}

TEST(CpuProbe, MmxWithSseBitClearGivesOneWithoutTrial) {
    const Answer a = Probe(kMmxBit | ~(kMmxBit | kSseBit), SseTrial::Completed);  // every other bit set
    EXPECT_EQ(a.hasMmx, 1);
    EXPECT_EQ(a.hasUsableSse, 0);
    EXPECT_EQ(a.caps, 1);
    EXPECT_EQ(a.trials, 0);
}

TEST(CpuProbe, MmxClearGivesZeroWhateverElseIsSet) {
    const Answer a = Probe(~kMmxBit, SseTrial::Completed);
    EXPECT_EQ(a.hasMmx, 0);
    EXPECT_EQ(a.caps, 0);
}

TEST(CpuProbe, MmxAndSseWithCompletedTrialGivesThree) {
    const Answer a = Probe(kMmxBit | kSseBit, SseTrial::Completed);
    EXPECT_EQ(a.hasMmx, 1);
    EXPECT_EQ(a.hasUsableSse, 1);
    EXPECT_EQ(a.caps, 3);
    EXPECT_EQ(a.trials, 1);
}

TEST(CpuProbe, IllegalInstructionFaultGivesOne) {
    // A processor with SSE on a system that has not enabled it.
    const Answer a = Probe(kMmxBit | kSseBit, SseTrial::IllegalInstruction);
    EXPECT_EQ(a.hasMmx, 1);
    EXPECT_EQ(a.hasUsableSse, 0);
    EXPECT_EQ(a.caps, 1);
    EXPECT_EQ(a.trials, 1);
}

TEST(CpuProbe, AnyOtherFaultGivesThree) {
    const Answer a = Probe(kMmxBit | kSseBit, SseTrial::OtherFault);
    EXPECT_EQ(a.hasMmx, 1);
    EXPECT_EQ(a.hasUsableSse, 1);
    EXPECT_EQ(a.caps, 3);
}

TEST(CpuProbe, OnlyBits23And25OfEdxCount) {
    for (int bit = 0; bit < 32; ++bit) {
        const std::uint32_t other = 1u << bit;
        if (other == kMmxBit || other == kSseBit) continue;
        EXPECT_EQ(Probe(other, SseTrial::Completed).caps, 0) << "bit " << bit;
        EXPECT_EQ(Probe(other | kMmxBit, SseTrial::Completed).caps, 1) << "bit " << bit;
        EXPECT_EQ(Probe(other | kMmxBit | kSseBit, SseTrial::Completed).caps, 3) << "bit " << bit;
    }
}

// --- This machine. ----------------------------------------------------------

TEST(CpuProbe, NativeAnswerOnThisMachine) {
    const std::uint32_t edx = lowpass::NativeCpuProbeOps().cpuidLeaf1Edx();
    const int caps = lowpass::ComposeCpuCaps();
    std::printf("[ probe ] CPUID leaf 1 EDX = 0x%08x (MMX %d, SSE %d), CpuCaps = %d\n", edx,
                (edx & kMmxBit) ? 1 : 0, (edx & kSseBit) ? 1 : 0, caps);
    ::testing::Test::RecordProperty("cpu_caps", caps);
    EXPECT_TRUE(caps == 0 || caps == 1 || caps == 3);
    EXPECT_EQ(lowpass::HasMmx(), (edx & kMmxBit) ? 1 : 0);
    if (!(edx & kMmxBit)) {
        EXPECT_EQ(caps, 0);
    }
    if ((edx & kMmxBit) && !(edx & kSseBit)) {
        EXPECT_EQ(caps, 1);
    }
#if defined(__x86_64__)
    // Every x86-64 processor has MMX and SSE, and every 64-bit system has
    // the SSE state enabled.
    EXPECT_EQ(caps, 3);
#endif
}

TEST(CpuProbe, MatchesTheProcessorTheRunWasStartedOn) {
    const char* expected = std::getenv("LOWPASS_EXPECT_CPU_CAPS");
    if (expected == nullptr || *expected == '\0')
        GTEST_SKIP() << "LOWPASS_EXPECT_CPU_CAPS is not set: no emulated processor named for this run";
    const int caps = lowpass::ComposeCpuCaps();
    std::printf("[ probe ] expected CpuCaps %s, probed %d\n", expected, caps);
    EXPECT_EQ(caps, std::atoi(expected));
}

#if !defined(_WIN32)

namespace {

void MarkerHandler(int) {}
void OtherMarkerHandler(int) {}

using Handler = void (*)(int);

Handler CurrentHandler(int signal) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

}  // namespace

TEST(CpuProbe, RealTrialFollowsCpuidAndRestoresSignalHandlers) {
    // The native trial executes XORPS under its SIGILL guard. Where CPUID
    // reports SSE it completes; where it does not (the emulated Pentium II),
    // the processor raises SIGILL and the guard reports an illegal
    // instruction. Either way the handlers in place before the trial are in
    // place after it.
    struct sigaction marker {};
    marker.sa_handler = MarkerHandler;
    sigemptyset(&marker.sa_mask);
    struct sigaction other = marker;
    other.sa_handler = OtherMarkerHandler;
    struct sigaction savedIll {}, savedFpe {};
    sigaction(SIGILL, &marker, &savedIll);
    sigaction(SIGFPE, &other, &savedFpe);
    const Handler segvBefore = CurrentHandler(SIGSEGV);
    const Handler busBefore = CurrentHandler(SIGBUS);

    const SseTrial outcome = lowpass::NativeCpuProbeOps().tryXorps();

    const Handler illAfter = CurrentHandler(SIGILL);
    const Handler fpeAfter = CurrentHandler(SIGFPE);
    sigaction(SIGILL, &savedIll, nullptr);
    sigaction(SIGFPE, &savedFpe, nullptr);
    EXPECT_EQ(illAfter, &MarkerHandler);
    EXPECT_EQ(fpeAfter, &OtherMarkerHandler);
    EXPECT_EQ(CurrentHandler(SIGSEGV), segvBefore);
    EXPECT_EQ(CurrentHandler(SIGBUS), busBefore);

    const bool sseReported = (lowpass::NativeCpuProbeOps().cpuidLeaf1Edx() & kSseBit) != 0;
    std::printf("[ probe ] XORPS trial: %s (CPUID %s SSE)\n",
                outcome == SseTrial::Completed            ? "completed"
                : outcome == SseTrial::IllegalInstruction ? "illegal instruction"
                                                          : "other fault",
                sseReported ? "reports" : "does not report");
    EXPECT_EQ(outcome, sseReported ? SseTrial::Completed : SseTrial::IllegalInstruction);
}

#endif
