// Timings of each engine's HorizontalPass and VerticalPass and of its whole
// frame pass driver, at 720 x 480 and 1920 x 1080 with N = 3 and N = 15.
// The tables are those kernel design builds for the Blackman window with
// X = w/2 and Y = h/2, so the driver runs both passes; the frame holds
// random samples in the host's nominal range. Engines the processor lacks
// are not registered.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/pass_mmx.h"
#include "simd/pass_sse.h"
#include "tests/support/stand_in_host.h"

namespace {

using lowpass::testing::Lcg;
using lowpass::testing::StandInHost;

enum class Engine { Scalar, Mmx, Sse };
enum class What { Horizontal, Vertical, Driver };

const char* EngineName(Engine e) { return e == Engine::Scalar ? "scalar" : (e == Engine::Mmx ? "mmx" : "sse"); }
const char* WhatName(What w) {
    return w == What::Horizontal ? "HorizontalPass" : (w == What::Vertical ? "VerticalPass" : "driver");
}

// One frame pair and the host record around it, with the tables built.
struct Setup {
    StandInHost host;
    std::vector<PIXEL_YC> edit, temp;
    FILTER_PROC_INFO info{};

    Setup(int w, int h, int n) : edit(static_cast<std::size_t>(w) * h), temp(static_cast<std::size_t>(w) * h) {
        host.SetTrack(w / 2, h / 2, n);
        Lcg rng(static_cast<std::uint32_t>(w + h + n));
        for (PIXEL_YC& p : edit)
            p = PIXEL_YC{static_cast<std::int16_t>(rng.Range(0, 4096)), static_cast<std::int16_t>(rng.Range(-2048, 2048)),
                         static_cast<std::int16_t>(rng.Range(-2048, 2048))};
        info.ycp_edit = edit.data();
        info.ycp_temp = temp.data();
        info.w = w;
        info.h = h;
        info.max_w = w;
        info.max_h = h;
        lowpass::windowWeights = lowpass::kBlackmanWindow;
        lowpass::InvalidateKernelCache();
        lowpass::Rebuild(&host.filter, &info);
    }
};

void Run(benchmark::State& state, Engine engine, What what, int w, int h, int n) {
    Setup s(w, h, n);
    FILTER* fp = &s.host.filter;
    FILTER_PROC_INFO* fpip = &s.info;
    const PIXEL_YC* src = s.edit.data();
    PIXEL_YC* dst = s.temp.data();
    for (auto _ : state) {
        switch (what) {
            case What::Horizontal:
                if (engine == Engine::Scalar) lowpass::HorizontalPassScalar(fp, fpip);
                if (engine == Engine::Mmx) lowpass::HorizontalPassMmx(src, dst, w, h, w, n);
                if (engine == Engine::Sse) lowpass::HorizontalPassSse(src, dst, w, h, w, n);
                break;
            case What::Vertical:
                if (engine == Engine::Scalar) lowpass::VerticalPassScalar(fp, fpip);
                if (engine == Engine::Mmx) lowpass::VerticalPassMmx(src, dst, w, h, w, n);
                if (engine == Engine::Sse) lowpass::VerticalPassSse(src, dst, w, h, w, n);
                break;
            case What::Driver:
                // Two passes, two exchanges: the pointers are back where they
                // started, and the cache stays valid, so no rebuild is timed.
                if (engine == Engine::Scalar) lowpass::ProcScalar(fp, fpip);
                if (engine == Engine::Mmx) lowpass::ProcMmx(fp, fpip);
                if (engine == Engine::Sse) lowpass::ProcSse(fp, fpip);
                break;
        }
        if (engine != Engine::Scalar && what != What::Driver) lowpass::ClearMmxState();
        benchmark::DoNotOptimize(s.temp.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w) * h);
}

}  // namespace

int main(int argc, char** argv) {
    lowpass::cpuCaps = lowpass::ComposeCpuCaps();
    std::vector<Engine> engines = {Engine::Scalar};
    if (lowpass::cpuCaps & lowpass::kCpuCapsMmx) engines.push_back(Engine::Mmx);
    if (lowpass::cpuCaps & lowpass::kCpuCapsSse) engines.push_back(Engine::Sse);
    const int sizes[2][2] = {{720, 480}, {1920, 1080}};
    for (What what : {What::Horizontal, What::Vertical, What::Driver})
        for (const auto& size : sizes)
            for (int n : {3, 15})
                for (Engine engine : engines) {
                    const std::string name = std::string(WhatName(what)) + "/" + std::to_string(size[0]) + "x" +
                                             std::to_string(size[1]) + "/N=" + std::to_string(n) + "/" +
                                             EngineName(engine);
                    benchmark::RegisterBenchmark(name.c_str(), Run, engine, what, size[0], size[1], n)
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime();
                }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
