// Timings of each engine's HorizontalPass and VerticalPass and of the frame
// driver running both (for an engine that runs both passes at once where N
// is small, also as two passes, named ".../<engine>-2pass"), at 720 x 480 and 1920 x 1080 with N = 3 and N = 15,
// next to OpenCV's cv::sepFilter2D on the same frames with the same taps,
// all on one thread; the frame driver also on all the processor's threads
// (the tools' pool as its band runner, as the lowpass tool lends it to the
// plug-in), named ".../<engine>/threads:<count>". The tables are those kernel design builds for the
// Blackman window with X = 0.44 w and Y = 0.44 h, so the driver runs both
// passes; the frame holds random samples in the host's nominal range.
// Engines the processor lacks are not registered.
//
// The engines of one cell are registered next to each other; with
// --benchmark_repetitions and --benchmark_enable_random_interleaving they
// alternate, so that each sees the same load on the machine. After the
// run a table gives each cell's median times and the ratio of each
// engine's CPU time to OpenCV's, both measured in that run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <string>
#include <vector>

#include "bench/median_reporter.h"
#include "core/frame_driver.h"
#include "core/kernel.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"
#include "tools/threads/thread_pool.h"

namespace {

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
          settings{w * 44 / 100, h * 44 / 100, n, lowpass::kBlackmanWindow} {
        // Random samples in the host's nominal ranges.
        std::minstd_rand rng(static_cast<std::uint32_t>(w + h + n));
        std::uniform_int_distribution<int> luma(0, 4096), chroma(-2048, 2048);
        for (PIXEL_YC& p : edit)
            p = PIXEL_YC{static_cast<std::int16_t>(luma(rng)), static_cast<std::int16_t>(chroma(rng)),
                         static_cast<std::int16_t>(chroma(rng))};
        frame = lowpass::FrameBuffers{edit.data(), temp.data(), w, h, w};
        lowpass::RebuildKernel(cache, settings, w, h);
    }

    lowpass::PassJob Job(const lowpass::KernelTables& tables, int lines) const {
        return lowpass::PassJob{edit.data(), const_cast<PIXEL_YC*>(temp.data()), frame.w, frame.h, frame.stride,
                                settings.taps, &tables, cache.roundingBias, 0, lines};
    }
};

// bands: the driver's band runner, or null for one band on this thread.
void Run(benchmark::State& state, const lowpass::Engine* engine, What what, int w, int h, int n,
         const lowpass::BandRunner* bands) {
    Setup s(w, h, n);
    const lowpass::FrameContext context{&s.cache, nullptr, bands};
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

// OpenCV's separable filter with the plug-in's own float taps (sseTaps):
// 16SC3 in, CV_16S out, replicated border. A single pass is timed as the
// other direction's kernel being the one tap 1.
void RunOpenCv(benchmark::State& state, What what, int w, int h, int n) {
    Setup s(w, h, n);
    std::vector<float> across, down;
    for (int k = 0; k <= 2 * n; ++k) {
        across.push_back(s.cache.horizontal.sseTaps[k][0]);
        down.push_back(s.cache.vertical.sseTaps[k][0]);
    }
    float one = 1.0f;
    const cv::Mat source(h, w, CV_16SC3, s.edit.data());
    const cv::Mat kernelX(1, what == What::Vertical ? 1 : 2 * n + 1, CV_32F,
                          what == What::Vertical ? &one : across.data());
    const cv::Mat kernelY(1, what == What::Horizontal ? 1 : 2 * n + 1, CV_32F,
                          what == What::Horizontal ? &one : down.data());
    cv::Mat result(h, w, CV_16SC3, s.temp.data());
    for (auto _ : state) {
        cv::sepFilter2D(source, result, CV_16S, kernelX, kernelY, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(result.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w) * h);
}

// After the console output, one table: for each cell of the frame driver
// (both passes), each engine's median real and CPU time and its time over
// OpenCV's.
class RatioReporter : public lowpass::bench::MedianReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        bool header = false;
        for (auto& [cell, engines] : cells_) {
            if (cell.rfind("driver/", 0) != 0) continue;
            if (!header)
                std::printf(
                    "\nBoth passes, medians: real and CPU time in ms, and the time over OpenCV's on one thread\n"
                    "(on one thread CPU time over CPU time; on several, real time over real time: the CPU time\n"
                    "counts only the calling thread)\n");
            header = true;
            // OpenCV first, then the engines from the most preferred, each on
            // one thread and then on several (the runs came interleaved).
            auto rank = [](const Median& t) {
                int order = 0;
                const auto table = lowpass::Engines();
                const std::size_t dash = t.what.find('-');
                const std::string base = t.what.substr(0, dash);
                for (std::size_t i = 0; i < table.size(); ++i)
                    if (base == table[i].name) order = static_cast<int>(table.size() - i);
                return order * 4 + (dash != std::string::npos ? 2 : 0) + (t.threads > 1 ? 1 : 0);
            };
            std::stable_sort(engines.begin(), engines.end(),
                             [&](const Median& a, const Median& b) { return rank(a) < rank(b); });
            const Median* opencv = nullptr;
            for (const Median& t : engines)
                if (t.what == "opencv") opencv = &t;
            std::printf("%s\n", cell.c_str());
            for (const Median& t : engines) {
                const std::string label = t.threads > 1 ? t.what + " x" + std::to_string(t.threads) : t.what;
                std::printf("  %-10s %8.2f %8.2f", label.c_str(), t.real, t.cpu);
                if (opencv != nullptr && &t != opencv) {
                    const double ratio = t.threads > 1 ? t.real / opencv->real : t.cpu / opencv->cpu;
                    if (ratio > 0.0 && std::isfinite(ratio)) std::printf("  %5.2fx", ratio);
                }
                std::printf("\n");
            }
        }
    }
};

// Every engine of the registry that filters the host's int16 frames.
bool Benchable(const lowpass::Engine& engine) { return engine.samples == lowpass::Samples::Int16; }

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    // The driver on every processor: one band per thread of the pool.
    lowpass::threads::ThreadPool pool(lowpass::threads::ProcessorCount());
    const lowpass::BandRunner allThreads = lowpass::threads::BandRunnerOn(pool);
    const std::string threadsSuffix = "/threads:" + std::to_string(pool.threads());
    const int caps = lowpass::ProbeFeatures();
    // The engines that run both passes at once, as two passes.
    std::vector<std::string> twoPassNames;
    std::vector<lowpass::Engine> twoPass;
    for (const lowpass::Engine& engine : lowpass::Engines())
        if (Benchable(engine) && engine.passes.fused != nullptr)
            twoPassNames.push_back(std::string(engine.name) + "-2pass");
    twoPass.reserve(twoPassNames.size());
    for (const lowpass::Engine& engine : lowpass::Engines())
        if (Benchable(engine) && engine.passes.fused != nullptr) {
            lowpass::Engine copy = engine;
            copy.name = twoPassNames[twoPass.size()].c_str();
            copy.passes.fused = nullptr;
            twoPass.push_back(copy);
        }
    const int sizes[2][2] = {{720, 480}, {1920, 1080}};
    for (What what : {What::Horizontal, What::Vertical, What::Driver})
        for (const auto& size : sizes)
            for (int n : {3, 15}) {
                const std::string cell = std::string(WhatName(what)) + "/" + std::to_string(size[0]) + "x" +
                                         std::to_string(size[1]) + "/N=" + std::to_string(n) + "/";
                std::vector<const lowpass::Engine*> engines;
                for (const lowpass::Engine& engine : lowpass::Engines())
                    if (Benchable(engine)) engines.push_back(&engine);
                if (what == What::Driver)
                    for (const lowpass::Engine& engine : twoPass)
                        if (n <= engine.passes.fusedTaps) engines.push_back(&engine);
                for (const lowpass::Engine* pointer : engines) {
                    const lowpass::Engine& engine = *pointer;
                    if (!lowpass::CanRun(engine, caps)) continue;
                    benchmark::RegisterBenchmark((cell + engine.name).c_str(), Run, &engine, what, size[0], size[1], n,
                                                 nullptr)
                        ->Unit(benchmark::kMillisecond);
                    if (what == What::Driver && pool.threads() > 1)
                        benchmark::RegisterBenchmark((cell + engine.name + threadsSuffix).c_str(), Run, &engine, what,
                                                     size[0], size[1], n, &allThreads)
                            ->Unit(benchmark::kMillisecond)
                            ->UseRealTime();
                }
                benchmark::RegisterBenchmark((cell + "opencv").c_str(), RunOpenCv, what, size[0], size[1], n)
                    ->Unit(benchmark::kMillisecond);
            }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
