// Timings of the 64-bit plug-in's pixel path: FilterImage on a 1920 x 1080
// HF64 image with alpha (random premultiplied halves), N = 3 and N = 15,
// Blackman window, X = 0.44 w and Y = 0.44 h so that both passes run: on
// one thread (no pool) and on the plug-in's pool (all the processor's
// threads), for each implementation of the float passes the processor
// runs. Next to it, in the same run, OpenCV doing the same job the way a
// plug-in author would: the halves to CV_32FC4 (cv::convertFp16),
// cv::sepFilter2D with the same float taps and replicated edges, back to
// halves, on one thread.
//
// FilterImage works in place: each iteration filters the result of the
// one before (the work does not depend on the values). With
// --benchmark_repetitions and --benchmark_enable_random_interleaving the
// runs alternate; the table after the run gives each cell's medians and
// the ratio to OpenCV's time (CPU time on one thread, real time on the pool).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "aviutl2/band_pool.h"
#include "aviutl2/hf64_filter.h"
#include "bench/median_reporter.h"
#include "core/kernel.h"
#include "simd/cpu_probe.h"
#include "simd/engines.h"

namespace {

using lowpass::auf2::FilterSettings;

constexpr int kW = 1920;
constexpr int kH = 1080;

// Random premultiplied halves: alpha in 0 .. 1, colours at most alpha.
std::vector<std::uint16_t> RandomImage() {
    std::vector<std::uint16_t> halves(static_cast<std::size_t>(kW) * kH * 4);
    std::uint64_t state = 12345;
    for (std::size_t i = 0; i < halves.size(); i += 4) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const float a = static_cast<float>((state >> 40) & 0xFFFF) / 65535.0f;
        const float c[3] = {a * static_cast<float>((state >> 20) & 0xFF) / 255.0f,
                            a * static_cast<float>((state >> 28) & 0xFF) / 255.0f,
                            a * static_cast<float>((state >> 12) & 0xFF) / 255.0f};
        for (int k = 0; k < 3; ++k) halves[i + k] = lowpass::FloatToHalf(c[k]);
        halves[i + 3] = lowpass::FloatToHalf(a);
    }
    return halves;
}

FilterSettings Settings(int n) {
    return FilterSettings{kW * 44 / 100, kH * 44 / 100, n, lowpass::auf2::kWindowBlackman, true};
}

void RunFilterImage(benchmark::State& state, const lowpass::Engine* engine, int n, bool pool) {
    std::vector<std::uint16_t> image = RandomImage();
    const lowpass::auf2::Hf64Image view{image.data(), kW, kH, static_cast<std::ptrdiff_t>(kW) * 4};
    lowpass::auf2::ScratchStore& store = lowpass::auf2::TheScratchStore();
    lowpass::auf2::BandPool* threads = pool ? &lowpass::auf2::ThePool() : nullptr;
    for (auto _ : state) {
        lowpass::auf2::FilterImage(view, Settings(n), engine->image, threads, store);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kW) * kH);
}

void RunOpenCv(benchmark::State& state, int n) {
    const std::vector<std::uint16_t> image = RandomImage();
    lowpass::KernelCache cache{};
    const FilterSettings s = Settings(n);
    lowpass::RebuildKernel(cache, lowpass::KernelSettings{s.x, s.y, n, lowpass::kBlackmanWindow}, kW, kH);
    std::vector<float> across, down;
    for (int k = 0; k <= 2 * n; ++k) {
        across.push_back(cache.horizontal.sseTaps[k][0]);
        down.push_back(cache.vertical.sseTaps[k][0]);
    }
    const cv::Mat kernelX(1, 2 * n + 1, CV_32F, across.data());
    const cv::Mat kernelY(1, 2 * n + 1, CV_32F, down.data());
    const cv::Mat halves(kH, kW, CV_16SC4, const_cast<std::uint16_t*>(image.data()));
    cv::Mat floats, filtered, result;
    for (auto _ : state) {
        cv::convertFp16(halves, floats);
        cv::sepFilter2D(floats, filtered, CV_32F, kernelX, kernelY, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        cv::convertFp16(filtered, result);
        benchmark::DoNotOptimize(result.data);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kW) * kH);
}

// After the console output, one table per cell: median real and CPU time,
// the time over OpenCV's (CPU over CPU on one thread, real over real on
// the pool, whose CPU time counts only the calling thread), and for the
// pool how much faster it was than the same engine on one thread.
class RatioReporter : public lowpass::bench::MedianReporter {
public:
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nFilterImage against OpenCV, medians (ms): real, CPU, ratio\n");
        for (const auto& [cell, rows] : cells_) {
            const Median* opencv = Find(rows, "opencv");
            std::printf("%s\n", cell.c_str());
            for (const Median& r : rows) {
                std::printf("  %-18s %8.2f %8.2f", r.what.c_str(), r.real, r.cpu);
                // "<engine>-1thread" or "<engine>-pool<N>".
                const std::size_t dash = r.what.rfind('-');
                const bool pooled = dash != std::string::npos && r.what.compare(dash, 5, "-pool") == 0;
                if (opencv != nullptr && &r != opencv)
                    std::printf("  %5.2fx OpenCV", pooled ? r.real / opencv->real : r.cpu / opencv->cpu);
                const Median* single = pooled ? Find(rows, r.what.substr(0, dash) + "-1thread") : nullptr;
                if (single != nullptr) std::printf("  %5.2fx faster than one thread", single->real / r.real);
                std::printf("\n");
            }
        }
    }

private:
    static const Median* Find(const std::vector<Median>& rows, const std::string& what) {
        for (const Median& r : rows)
            if (r.what == what) return &r;
        return nullptr;
    }
};

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    const int caps = lowpass::ProbeFeatures();
    const std::string pool = "-pool" + std::to_string(lowpass::auf2::ThePool().Runners());
    for (int n : {3, 15}) {
        const std::string cell =
            "FilterImage/" + std::to_string(kW) + "x" + std::to_string(kH) + "/N=" + std::to_string(n) + "/";
        for (const lowpass::Engine& engine : lowpass::ImageEngines()) {
            if (!lowpass::CanRun(engine, caps)) continue;
            benchmark::RegisterBenchmark((cell + engine.name + "-1thread").c_str(), RunFilterImage, &engine, n, false)
                ->Unit(benchmark::kMillisecond);
            benchmark::RegisterBenchmark((cell + engine.name + pool).c_str(), RunFilterImage, &engine, n, true)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
        benchmark::RegisterBenchmark((cell + "opencv").c_str(), RunOpenCv, n)->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    lowpass::auf2::ThePool().Stop();
    return 0;
}
