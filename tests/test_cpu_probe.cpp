// The processor probe: the composition 0 / 1 / 3 from injected
// processor answers, which faster SSE implementations may run (AVX2 only
// with the YMM state enabled by the system), the native answer on this
// machine, the real illegal-instruction guard, and, when
// LOWPASS_EXPECT_CPU_CAPS and LOWPASS_EXPECT_SSE_IMPLEMENTATIONS are set
// (the emulated-processor runs set them), that the probe saw the processor
// the run was started on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

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

// --- The faster SSE implementations' probe, with injected answers. ---------

namespace {

constexpr std::uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;
constexpr std::uint32_t kOsxsave = 1u << 27, kAvx = 1u << 28, kF16c = 1u << 29, kAvx2 = 1u << 5;
constexpr std::uint32_t kAvx512F = 1u << 16, kAvx512Bw = 1u << 30, kAvx512Vl = 1u << 31;

struct FakeCpu {
    std::uint32_t edx, ecx, maxLeaf, leaf7Ebx, xcr0;
    SseTrial trial;
    int leaf7Asked, xgetbvAsked;
};
FakeCpu fake{};

const CpuProbeOps kFakeOps{
    [] { return fake.edx; },
    [] { return fake.trial; },
    [] { return fake.maxLeaf; },
    [] { return fake.ecx; },
    [] {
        ++fake.leaf7Asked;
        return fake.maxLeaf >= 7 ? fake.leaf7Ebx : 0xffffffffu;  // a processor without leaf 7 answers garbage
    },
    [] {
        ++fake.xgetbvAsked;
        return (fake.ecx & kOsxsave) ? fake.xcr0 : 0xffffffffu;  // would fault: count it, answer garbage
    },
};

// A processor and system with everything: MMX, SSE, SSE2, AVX, AVX2, the
// YMM state enabled.
FakeCpu Everything() { return FakeCpu{kMmx | kSse | kSse2, kOsxsave | kAvx, 13, kAvx2, 0x7, SseTrial::Completed, 0, 0}; }

// The same with AVX-512 F, BW and VL, and the whole vector state enabled
// (XCR0 bits 0, 1, 2, 5, 6, 7).
FakeCpu EverythingWithAvx512() {
    FakeCpu cpu = Everything();
    cpu.leaf7Ebx |= kAvx512F | kAvx512Bw | kAvx512Vl;
    cpu.xcr0 = 0xe7;
    return cpu;
}

struct Wide {
    int sse2, avx2, avx512;
};
Wide ProbeWide(const FakeCpu& cpu) {
    fake = cpu;
    return Wide{lowpass::HasUsableSse2(kFakeOps), lowpass::HasUsableAvx2(kFakeOps), lowpass::HasUsableAvx512(kFakeOps)};
}

}  // namespace

TEST(WideSseProbe, Avx2NeedsTheYmmStateEnabledByTheSystem) {
    EXPECT_EQ(ProbeWide(Everything()).avx2, 1);
    // The processor reports AVX2, the system saves only the x87 and XMM
    // registers (XCR0 = 3), or not the XMM ones (XCR0 = 5): no AVX2.
    for (std::uint32_t xcr0 : {0x1u, 0x3u, 0x5u, 0x2u, 0x4u}) {
        FakeCpu cpu = Everything();
        cpu.xcr0 = xcr0;
        const Wide wide = ProbeWide(cpu);
        EXPECT_EQ(wide.avx2, 0) << "XCR0 " << xcr0;
        EXPECT_EQ(wide.sse2, 1) << "XCR0 " << xcr0;
    }
    // No OSXSAVE: XGETBV would fault, so it is not executed.
    FakeCpu cpu = Everything();
    cpu.ecx = kAvx;
    EXPECT_EQ(ProbeWide(cpu).avx2, 0);
    EXPECT_EQ(fake.xgetbvAsked, 0);
}

TEST(WideSseProbe, Avx2NeedsTheProcessorsAvxAndAvx2Bits) {
    FakeCpu cpu = Everything();
    cpu.leaf7Ebx = ~kAvx2;
    EXPECT_EQ(ProbeWide(cpu).avx2, 0) << "leaf 7 without AVX2";
    cpu = Everything();
    cpu.ecx = kOsxsave;
    EXPECT_EQ(ProbeWide(cpu).avx2, 0) << "AVX2 without AVX";
    // A processor whose highest leaf is below 7 is not asked leaf 7 (it
    // would answer with another leaf's bits).
    cpu = Everything();
    cpu.maxLeaf = 6;
    EXPECT_EQ(ProbeWide(cpu).avx2, 0);
    EXPECT_EQ(fake.leaf7Asked, 0);
}

TEST(WideSseProbe, BothNeedUsableSseAndSse2) {
    const Wide all = ProbeWide(Everything());
    EXPECT_EQ(all.sse2, 1);
    EXPECT_EQ(all.avx2, 1);
    FakeCpu cpu = Everything();
    cpu.trial = SseTrial::IllegalInstruction;  // the system has not enabled the SSE state
    Wide wide = ProbeWide(cpu);
    EXPECT_EQ(wide.sse2, 0);
    EXPECT_EQ(wide.avx2, 0);
    cpu = Everything();
    cpu.edx = kMmx | kSse;  // a Pentium III
    wide = ProbeWide(cpu);
    EXPECT_EQ(wide.sse2, 0);
    EXPECT_EQ(wide.avx2, 0);
    cpu = Everything();
    cpu.edx = kSse | kSse2;  // no MMX: CpuCaps 0, nothing vector runs
    wide = ProbeWide(cpu);
    EXPECT_EQ(wide.sse2, 0);
    EXPECT_EQ(wide.avx2, 0);
    EXPECT_EQ(fake.xgetbvAsked, 0);
}

TEST(WideSseProbe, F16cNeedsItsBitAndTheAvxStateButNotAvx2) {
    FakeCpu cpu = Everything();
    cpu.ecx = kOsxsave | kAvx | kF16c;
    fake = cpu;
    EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 1);
    cpu.leaf7Ebx = 0;  // an AVX processor without AVX2 still converts halves
    fake = cpu;
    EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 1);
    cpu = Everything();  // every other bit, no F16C
    fake = cpu;
    EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 0);
    for (std::uint32_t xcr0 : {0x3u, 0x5u}) {  // the system does not save the YMM (or XMM) registers
        cpu = Everything();
        cpu.ecx = kOsxsave | kAvx | kF16c;
        cpu.xcr0 = xcr0;
        fake = cpu;
        EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 0) << "XCR0 " << xcr0;
    }
    cpu = Everything();
    cpu.ecx = kAvx | kF16c;  // no OSXSAVE: XGETBV is not executed
    fake = cpu;
    EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 0);
    EXPECT_EQ(fake.xgetbvAsked, 0);
    cpu = Everything();
    cpu.ecx = kOsxsave | kF16c;  // F16C reported without AVX
    fake = cpu;
    EXPECT_EQ(lowpass::HasUsableF16c(kFakeOps), 0);
}

TEST(WideSseProbe, Avx512NeedsFBwVlAndTheWholeVectorStateEnabledByTheSystem) {
    const Wide all = ProbeWide(EverythingWithAvx512());
    EXPECT_EQ(all.avx512, 1);
    EXPECT_EQ(all.avx2, 1);
    EXPECT_EQ(ProbeWide(Everything()).avx512, 0) << "AVX2 only";
    // Each of F, BW and VL missing.
    for (std::uint32_t bit : {kAvx512F, kAvx512Bw, kAvx512Vl}) {
        FakeCpu cpu = EverythingWithAvx512();
        cpu.leaf7Ebx &= ~bit;
        const Wide wide = ProbeWide(cpu);
        EXPECT_EQ(wide.avx512, 0) << "leaf 7 EBX without bit " << bit;
        EXPECT_EQ(wide.avx2, 1);
    }
    // The system does not save the mask registers (bit 5), the upper halves
    // of ZMM0-15 (bit 6) or ZMM16-31 (bit 7): AVX2 still runs, AVX-512 not.
    for (std::uint32_t missing : {1u << 5, 1u << 6, 1u << 7}) {
        FakeCpu cpu = EverythingWithAvx512();
        cpu.xcr0 &= ~missing;
        const Wide wide = ProbeWide(cpu);
        EXPECT_EQ(wide.avx512, 0) << "XCR0 " << cpu.xcr0;
        EXPECT_EQ(wide.avx2, 1) << "XCR0 " << cpu.xcr0;
    }
    // Nor without what AVX2 needs: the YMM state, AVX2 itself, OSXSAVE (then
    // XGETBV is not executed), leaf 7 (then it is not asked), usable SSE.
    FakeCpu cpu = EverythingWithAvx512();
    cpu.xcr0 = 0xe3;
    EXPECT_EQ(ProbeWide(cpu).avx512, 0) << "XCR0 without the YMM state";
    cpu = EverythingWithAvx512();
    cpu.leaf7Ebx &= ~kAvx2;
    EXPECT_EQ(ProbeWide(cpu).avx512, 0) << "AVX-512 without AVX2";
    cpu = EverythingWithAvx512();
    cpu.ecx = kAvx;
    EXPECT_EQ(ProbeWide(cpu).avx512, 0) << "no OSXSAVE";
    EXPECT_EQ(fake.xgetbvAsked, 0);
    cpu = EverythingWithAvx512();
    cpu.maxLeaf = 6;
    EXPECT_EQ(ProbeWide(cpu).avx512, 0) << "no leaf 7";
    EXPECT_EQ(fake.leaf7Asked, 0);
    cpu = EverythingWithAvx512();
    cpu.trial = SseTrial::IllegalInstruction;
    EXPECT_EQ(ProbeWide(cpu).avx512, 0) << "SSE state not enabled";
    // And the composed word: every bit with everything, none beyond AVX2
    // with the ZMM state missing.
    fake = EverythingWithAvx512();
    EXPECT_EQ(lowpass::ProbeFeatures(kFakeOps), lowpass::kCpuCapsMmx | lowpass::kCpuCapsSse | lowpass::kCpuCapsSse2 |
                                                    lowpass::kCpuCapsAvx2 | lowpass::kCpuCapsAvx512);
    fake.xcr0 = 0x07;
    EXPECT_EQ(lowpass::ProbeFeatures(kFakeOps),
              lowpass::kCpuCapsMmx | lowpass::kCpuCapsSse | lowpass::kCpuCapsSse2 | lowpass::kCpuCapsAvx2);
}

TEST(WideSseProbe, MatchesTheProcessorTheRunWasStartedOn) {
    // The emulated-processor runs name what the probe must find:
    // LOWPASS_EXPECT_SSE_IMPLEMENTATIONS is "none", "sse2", "sse2,avx2" or
    // "sse2,avx2,avx512".
    const char* expected = std::getenv("LOWPASS_EXPECT_SSE_IMPLEMENTATIONS");
    std::string found;
    for (const auto& [usable, name] :
         {std::pair{lowpass::HasUsableSse2(), "sse2"}, std::pair{lowpass::HasUsableAvx2(), "avx2"},
          std::pair{lowpass::HasUsableAvx512(), "avx512"}})
        if (usable) {
            if (!found.empty()) found += ',';
            found += name;
        }
    if (found.empty()) found = "none";
    std::printf("[ probe ] faster SSE implementations usable here: %s\n", found.c_str());
    if (expected == nullptr || *expected == '\0')
        GTEST_SKIP() << "LOWPASS_EXPECT_SSE_IMPLEMENTATIONS is not set: no processor named for this run";
    EXPECT_EQ(found, expected);
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
