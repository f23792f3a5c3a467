// Timings of each engine's HorizontalPass and VerticalPass and of both
// passes of a frame, at 720 x 480 and 1920 x 1080 with N = 3 and N = 15,
// next to OpenCV's cv::sepFilter2D on the same frames with the same taps,
// on one thread. The tables are those kernel design builds for the
// Blackman window with X = 0.44 w and Y = 0.44 h, so both passes run; the
// frame holds random samples in the host's nominal range. Engines and
// implementations the processor lacks are not registered.
//
// The engines of one cell are registered next to each other; with
// --benchmark_repetitions and --benchmark_enable_random_interleaving they
// alternate, so that each sees the same load on the machine. After the
// run a table gives each cell's median time (CPU time of the one thread)
// and its ratio to OpenCV's.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "core/pass_job.h"
#include "core/pass_scalar.h"
#include "simd/cpu_probe.h"
#include "simd/pass_mmx.h"
#include "simd/pass_sse.h"
#include "simd/pass_sse_wide.h"
#include "tests/support/stand_in_host.h"

namespace {

using lowpass::testing::Lcg;
using lowpass::testing::StandInHost;

enum class Engine { Scalar, Mmx, Sse, Sse2, Avx2, OpenCv };
enum class What { Horizontal, Vertical, Both };

const char* EngineName(Engine e) {
    switch (e) {
        case Engine::Scalar: return "scalar";
        case Engine::Mmx: return "mmx";
        case Engine::Sse: return "sse";
        case Engine::Sse2: return "sse2";
        case Engine::Avx2: return "avx2";
        case Engine::OpenCv: return "opencv";
    }
    return "?";
}
const char* WhatName(What w) {
    return w == What::Horizontal ? "HorizontalPass" : (w == What::Vertical ? "VerticalPass" : "both");
}

// One frame pair and the host record around it, with the tables built.
struct Setup {
    StandInHost host;
    std::vector<PIXEL_YC> edit, temp;
    FILTER_PROC_INFO info{};

    Setup(int w, int h, int n) : edit(static_cast<std::size_t>(w) * h), temp(static_cast<std::size_t>(w) * h) {
        host.SetTrack(w * 44 / 100, h * 44 / 100, n);
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

// OpenCV's separable filter with the plug-in's own float taps: 16SC3 in,
// CV_16S out, replicated border.
struct OpenCvFilter {
    std::vector<float> across, down;
    cv::Mat source, result, kernelX, kernelY;

    OpenCvFilter(Setup& s, int n) {
        for (int k = 0; k <= 2 * n; ++k) {
            across.push_back(lowpass::kernelCache.horizontal.sseTaps[k][0]);
            down.push_back(lowpass::kernelCache.vertical.sseTaps[k][0]);
        }
        source = cv::Mat(s.info.h, s.info.w, CV_16SC3, s.edit.data());
        kernelX = cv::Mat(1, 2 * n + 1, CV_32F, across.data());
        kernelY = cv::Mat(1, 2 * n + 1, CV_32F, down.data());
        Run(What::Both);  // allocates the result once
    }
    void Run(What what) {
        static const float one = 1.0f;
        const cv::Mat unit(1, 1, CV_32F, const_cast<float*>(&one));
        cv::sepFilter2D(source, result, CV_16S, what == What::Vertical ? unit : kernelX,
                        what == What::Horizontal ? unit : kernelY, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
    }
};

void Run(benchmark::State& state, Engine engine, What what, int w, int h, int n) {
    Setup s(w, h, n);
    FILTER* fp = &s.host.filter;
    FILTER_PROC_INFO* fpip = &s.info;
    PIXEL_YC* src = s.edit.data();
    PIXEL_YC* dst = s.temp.data();
    const lowpass::PassJob across{src, dst, w, h, w, n, &lowpass::kernelCache.horizontal,
                                  lowpass::kernelCache.roundingBias, 0, h};
    const lowpass::PassJob down{src, dst, w, h, w, n, &lowpass::kernelCache.vertical,
                                lowpass::kernelCache.roundingBias, 0, w};
    lowpass::PassJob downAfter = down;  // both passes: down reads what across wrote
    downAfter.source = dst;
    downAfter.destination = src;
    const bool wide = engine == Engine::Sse2 || engine == Engine::Avx2;
    const lowpass::Pass horizontal = engine == Engine::Sse2 ? lowpass::HorizontalPassSse2 : lowpass::HorizontalPassAvx2;
    const lowpass::Pass vertical = engine == Engine::Sse2 ? lowpass::VerticalPassSse2 : lowpass::VerticalPassAvx2;
    std::unique_ptr<OpenCvFilter> opencv;
    if (engine == Engine::OpenCv) opencv = std::make_unique<OpenCvFilter>(s, n);

    for (auto _ : state) {
        if (engine == Engine::OpenCv) {
            opencv->Run(what);
        } else if (wide) {
            // Both passes as the driver runs them: across into the scratch
            // frame, down back into the first.
            if (what != What::Vertical) horizontal(across);
            if (what == What::Vertical) vertical(down);
            if (what == What::Both) vertical(downAfter);
        } else {
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
                case What::Both:
                    // The frame driver: two passes, two exchanges; the
                    // pointers are back where they started, and the cache
                    // stays valid, so no rebuild is timed.
                    if (engine == Engine::Scalar) lowpass::ProcScalar(fp, fpip);
                    if (engine == Engine::Mmx) lowpass::ProcMmx(fp, fpip);
                    if (engine == Engine::Sse) lowpass::ProcSse(fp, fpip);
                    break;
            }
            if (engine != Engine::Scalar && what != What::Both) lowpass::ClearMmxState();
        }
        benchmark::DoNotOptimize(s.temp.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(w) * h);
}

// The console output, then one table: per cell (both passes) each engine's
// median real and CPU time and its CPU time over OpenCV's. Without
// repetitions the single measurement stands in for the median.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (!median && !(run.run_type == Run::RT_Iteration && run.repetitions <= 1)) continue;
            const std::string name = run.run_name.function_name;
            if (name.rfind("both/", 0) != 0) continue;
            const std::size_t slash = name.rfind('/');
            times_[name.substr(0, slash)][name.substr(slash + 1)] = {run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\nBoth passes, one thread: median ms (real / CPU) and CPU time over OpenCV's\n");
        for (const auto& [cell, engines] : times_) {
            const auto opencv = engines.find("opencv");
            std::printf("%s\n", cell.c_str());
            for (const auto& [engine, t] : engines) {
                if (opencv != engines.end() && engine != "opencv")
                    std::printf("  %-8s %8.2f / %8.2f ms  %5.2fx\n", engine.c_str(), t.real, t.cpu, t.cpu / opencv->second.cpu);
                else
                    std::printf("  %-8s %8.2f / %8.2f ms\n", engine.c_str(), t.real, t.cpu);
            }
        }
    }

private:
    struct Times {
        double real, cpu;
    };
    std::map<std::string, std::map<std::string, Times>> times_;
};

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    lowpass::cpuCaps = lowpass::ComposeCpuCaps();
    std::vector<Engine> engines = {Engine::Scalar};
    if (lowpass::cpuCaps & lowpass::kCpuCapsMmx) engines.push_back(Engine::Mmx);
    if (lowpass::cpuCaps & lowpass::kCpuCapsSse) engines.push_back(Engine::Sse);
    if (lowpass::HasUsableSse2()) engines.push_back(Engine::Sse2);
    if (lowpass::HasUsableAvx2()) engines.push_back(Engine::Avx2);
    engines.push_back(Engine::OpenCv);
    const int sizes[2][2] = {{720, 480}, {1920, 1080}};
    for (What what : {What::Horizontal, What::Vertical, What::Both})
        for (const auto& size : sizes)
            for (int n : {3, 15})
                for (Engine engine : engines) {
                    const std::string name = std::string(WhatName(what)) + "/" + std::to_string(size[0]) + "x" +
                                             std::to_string(size[1]) + "/N=" + std::to_string(n) + "/" +
                                             EngineName(engine);
                    benchmark::RegisterBenchmark(name.c_str(), Run, engine, what, size[0], size[1], n)
                        ->Unit(benchmark::kMillisecond);
                }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
