// Timings of each engine's HorizontalPass and VerticalPass and of the frame
// driver running both, at 720 x 480 and 1920 x 1080 with N = 3 and N = 15.
// The tables are those kernel design builds for the Blackman window with
// X = w/2 and Y = h/2, so the driver runs both passes; the frame holds
// random samples in the host's nominal range. Engines the processor lacks
// are not registered.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "tools/standin_host/stand_in_host.h"

namespace {

using lowpass::standin::Lcg;

enum class What { Horizontal, Vertical, Driver };

const char* WhatName(What w) {
    return w == What::Horizontal ? "HorizontalPass" : (w == What::Vertical ? "VerticalPass" : "driver");
}

// One frame pair with the tables built for it.
struct Setup {
    std::vector<PIXEL_YC> edit, temp;
    lowpass::KernelCache cache{};
    lowpass::KernelSettings settings;
    lowpass::FrameBuffers frame{};

    Setup(int w, int h, int n)
        : edit(static_cast<std::size_t>(w) * h),
          temp(static_cast<std::size_t>(w) * h),
          settings{w / 2, h / 2, n, lowpass::kBlackmanWindow} {
        Lcg rng(static_cast<std::uint32_t>(w + h + n));
        for (PIXEL_YC& p : edit)
            p = PIXEL_YC{static_cast<std::int16_t>(rng.Range(0, 4096)), static_cast<std::int16_t>(rng.Range(-2048, 2048)),
                         static_cast<std::int16_t>(rng.Range(-2048, 2048))};
        frame = lowpass::FrameBuffers{edit.data(), temp.data(), w, h, w};
        lowpass::RebuildKernel(cache, settings, w, h);
    }

    lowpass::PassJob Job(const lowpass::KernelTables& tables, int lines) const {
        return lowpass::PassJob{edit.data(), const_cast<PIXEL_YC*>(temp.data()), frame.w, frame.h, frame.stride,
                                settings.taps, &tables, cache.roundingBias, 0, lines};
    }
};

void Run(benchmark::State& state, const lowpass::Engine* engine, What what, int w, int h, int n) {
    Setup s(w, h, n);
    const lowpass::FrameContext context{&s.cache, nullptr, nullptr};
    const lowpass::PassJob across = s.Job(s.cache.horizontal, h);
    const lowpass::PassJob down = s.Job(s.cache.vertical, w);
    for (auto _ : state) {
        switch (what) {
            case What::Horizontal: engine->passes.horizontal(across); break;
            case What::Vertical: engine->passes.vertical(down); break;
            case What::Driver:
                // Two passes, two exchanges: the buffers are back where they
                // started, and the cache fits, so no rebuild is timed.
                lowpass::RunFramePasses(context, s.settings, s.frame, engine->passes);
                break;
        }
        if (what != What::Driver && engine->passes.afterPasses != nullptr) engine->passes.afterPasses();
        benchmark::DoNotOptimize(s.temp.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w) * h);
}

}  // namespace

int main(int argc, char** argv) {
    const int caps = lowpass::ComposeCpuCaps();
    const int sizes[2][2] = {{720, 480}, {1920, 1080}};
    for (What what : {What::Horizontal, What::Vertical, What::Driver})
        for (const auto& size : sizes)
            for (int n : {3, 15})
                for (const lowpass::Engine& engine : lowpass::Engines()) {
                    if (!lowpass::CanRun(engine, caps)) continue;
                    const std::string name = std::string(WhatName(what)) + "/" + std::to_string(size[0]) + "x" +
                                             std::to_string(size[1]) + "/N=" + std::to_string(n) + "/" + engine.name;
                    benchmark::RegisterBenchmark(name.c_str(), Run, &engine, what, size[0], size[1], n)
                        ->Unit(benchmark::kMillisecond)
                        ->UseRealTime();
                }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
