// The tool's host and demo in process: frames through HostSession are what
// the plug-in's func_proc gives a host; a forced engine is that engine or
// refused; the measured frequency response matches the kernel; the zone
// plate's aliasing falls by the factor the demo reports.
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <numbers>
#include <string>

#include "core/frame_driver.h"
#include "core/kernel.h"
#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "tests/cli/reference_host.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/random_seed.h"
#include "tools/cli/cli_error.h"
#include "tools/cli/demo.h"
#include "tools/cli/host_session.h"
#include "tools/cli/image.h"

using namespace lowpass::cli;
using namespace lowpass::clitest;
using lowpass::kCheckBlackman;
using lowpass::kCheckHamming;
using lowpass::kCheckHanning;
using lowpass::kCheckRectangular;

namespace {

TEST(HostSession, GivesWhatFuncProcGivesTheHostForEverySetting) {
    struct Case {
        int w, h, x, y, taps, window, simd;
    } cases[] = {
        {97, 61, 40, 32, 4, kCheckHamming, 1},   // both passes
        {97, 61, 97, 32, 3, kCheckBlackman, 1},  // vertical only
        {97, 61, 40, 61, 15, kCheckRectangular, 0},
        {64, 48, 64, 48, 3, kCheckHanning, 1},  // no pass: unchanged
        {33, 40, 32, 32, 15, kCheckHanning, 1}, // narrowest frame a vector pass may see
    };
    int frames = 0;
    for (const Case& c : cases) {
        const FilterSettings s = Settings(c.x, c.y, c.taps, c.window, c.simd);
        const lowpass::testing::TestSeed seed(static_cast<std::uint32_t>(c.w * 7 + c.taps));
        const Picture in = RandomPicture(c.w, c.h, seed, -3000, 7000);
        const Picture expected = Reference(in, s);
        HostSession session(s, nullptr);
        // Two frames through one session: the second reuses the buffers.
        for (int round = 0; round < 2; ++round) {
            Picture got = in;
            session.Process(got, round);
            std::string where;
            EXPECT_EQ(Mismatches(got, expected, &where), 0)
                << c.w << "x" << c.h << " X=" << c.x << " Y=" << c.y << " N=" << c.taps << " round " << round << " "
                << where;
            ++frames;
        }
        EXPECT_GT(session.maxW(), c.w);
        EXPECT_GT(session.maxH(), c.h);
        if (c.w <= c.x && c.h <= c.y) {
            EXPECT_EQ(Mismatches(expected, in), 0);
        } else {
            EXPECT_GT(Mismatches(expected, in), c.w * c.h / 2);
        }
    }
    EXPECT_EQ(frames, 10);
}

TEST(HostSession, AFrameSizeChangeBetweenFramesIsFilteredForTheNewSize) {
    const FilterSettings s = Settings(40, 32, 5, kCheckBlackman, 1);
    HostSession session(s, nullptr);
    const lowpass::testing::TestSeed seed(1);
    const Picture a = RandomPicture(80, 50, seed, 0, 4096);
    const Picture b = RandomPicture(120, 70, seed + 1, 0, 4096);
    Picture got = a;
    session.Process(got);
    EXPECT_EQ(Mismatches(got, Reference(a, s)), 0);
    got = b;
    session.Process(got);
    EXPECT_EQ(Mismatches(got, Reference(b, s)), 0);
}

TEST(HostSession, TheAutomaticEngineFollowsTheSimdBox) {
    HostSession on(Settings(320, 240, 3, kCheckBlackman, 1), nullptr);
    const int caps = lowpass::EngineCaps();
    const char* expected = (caps & lowpass::kCpuCapsAvx512) ? "avx512"
                           : (caps & lowpass::kCpuCapsAvx2) ? "avx2"
                           : (caps & lowpass::kCpuCapsSse2) ? "sse2"
                           : (caps & lowpass::kCpuCapsSse)  ? "sse"
                           : (caps & lowpass::kCpuCapsMmx)  ? "mmx"
                                                            : "portable";
    EXPECT_STREQ(on.engineName(), expected);
    HostSession off(Settings(320, 240, 3, kCheckBlackman, 0), nullptr);
    EXPECT_STREQ(off.engineName(), "portable");
}

TEST(HostSession, AForcedEngineGivesThatEnginesOutput) {
    const FilterSettings s = Settings(50, 40, 6, kCheckHamming, 0);  // SIMD off: forcing overrides it
    const lowpass::testing::TestSeed seed(9);
    const Picture in = RandomPicture(90, 70, seed, -4000, 8000);
    GetFilterTable();
    const int caps = lowpass::EngineCaps();
    const Picture scalar = Reference(in, s, lowpass::FrameProcFor(lowpass::PortableEngine()));
    for (const lowpass::Engine& e : lowpass::Engines()) {
        if (!lowpass::CanRun(e, caps)) continue;
        HostSession session(s, &e);
        EXPECT_STREQ(session.engineName(), e.name);
        Picture got = in;
        session.Process(got);
        std::string where;
        EXPECT_EQ(Mismatches(got, Reference(in, s, lowpass::FrameProcFor(e)), &where), 0) << e.name << " " << where;
        // The engines round differently, so a forced vector engine shows in
        // the output: the tool really switched.
        if (&e != &lowpass::PortableEngine()) {
            EXPECT_GT(Mismatches(got, scalar), 0) << e.name;
        }
    }
}

TEST(HostSession, RefusesAnEngineTheProcessorCannotRun) {
    const lowpass::Engine* mmx = lowpass::FindEngine("mmx");
    const lowpass::Engine* sse = lowpass::FindEngine("sse");
    EXPECT_EQ(EngineRefusal(nullptr, 0), "");
    EXPECT_EQ(EngineRefusal(&lowpass::PortableEngine(), 0), "");
    EXPECT_NE(EngineRefusal(mmx, 0).find("cannot run the MMX engine"), std::string::npos);
    EXPECT_NE(EngineRefusal(sse, 0).find("cannot run the SSE engine"), std::string::npos);
    EXPECT_EQ(EngineRefusal(mmx, 1), "");
    EXPECT_NE(EngineRefusal(sse, 1).find("MMX only"), std::string::npos);
    EXPECT_EQ(EngineRefusal(mmx, 3), "");
    EXPECT_EQ(EngineRefusal(sse, 3), "");
    // The faster implementations need their own bits as well.
    const lowpass::Engine* avx2 = lowpass::FindEngine("avx2");
    EXPECT_NE(EngineRefusal(avx2, 3).find("cannot run the AVX2 engine (it has MMX and SSE)"), std::string::npos);
    EXPECT_NE(EngineRefusal(avx2, 3 | lowpass::kCpuCapsSse2).find("(it has MMX, SSE and SSE2)"), std::string::npos);
    EXPECT_EQ(EngineRefusal(avx2, 3 | lowpass::kCpuCapsSse2 | lowpass::kCpuCapsAvx2), "");
}

TEST(Png, WrittenFilesReadBackPixelForPixel) {
    ScratchDir scratch;
    const std::string dir = scratch.path();
    GreyImage grey;
    grey.width = 7;
    grey.height = 3;
    for (int i = 0; i < 21; ++i) grey.pixels.push_back(static_cast<std::uint8_t>(i * 12));
    RgbImage rgb(5, 4, Rgb{1, 2, 3});
    rgb.Set(4, 3, Rgb{250, 0, 128});
    rgb.Set(5, 0, Rgb{9, 9, 9});  // outside: ignored
    const std::string greyPath = dir + "/lowpass-cli-grey.png", rgbPath = dir + "/lowpass-cli-rgb.png";
    WritePng(greyPath, grey);
    WritePng(rgbPath, rgb);

    auto read = [](const std::string& path, png_uint_32 format, int channels, int& w, int& h) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        std::vector<std::uint8_t> data;
        if (!png_image_begin_read_from_file(&image, path.c_str())) return data;
        image.format = format;
        w = static_cast<int>(image.width);
        h = static_cast<int>(image.height);
        data.resize(PNG_IMAGE_SIZE(image));
        if (!png_image_finish_read(&image, nullptr, data.data(), w * channels, nullptr)) data.clear();
        return data;
    };
    int w = 0, h = 0;
    EXPECT_EQ(read(greyPath, PNG_FORMAT_GRAY, 1, w, h), grey.pixels);
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 3);
    const auto back = read(rgbPath, PNG_FORMAT_RGB, 3, w, h);
    EXPECT_EQ(back, rgb.pixels);
    ASSERT_EQ(back.size(), 60u);
    EXPECT_EQ(back[57], 250);
    EXPECT_EQ(back[59], 128);
    EXPECT_EQ(back[12], 1);  // (4, 0) kept its fill

    int status = 0;
    try {
        WritePng(dir + "/no-such-folder/x.png", grey);
    } catch (const CliError& e) {
        status = e.status();
    }
    EXPECT_EQ(status, kExitIo);
}

TEST(ZonePlate, FrequencyRisesFromTheCentreToNyquistAtTheEdges) {
    const Picture z = MakeZonePlate(64, 32);
    EXPECT_EQ(z.at(32, 16).y, kZoneMid + kZoneAmplitude);
    // At the left edge the phase advances by pi per pixel: the samples
    // alternate around the mid level.
    const double step = std::abs(z.at(0, 16).y - z.at(1, 16).y);
    EXPECT_GT(step, 1.8 * kZoneAmplitude);
    // Near the centre neighbours are alike.
    EXPECT_LT(std::abs(z.at(32, 16).y - z.at(33, 16).y), 0.1 * kZoneAmplitude);
    for (const PIXEL_YC& p : z.pixels) {
        ASSERT_EQ(p.cb, 0);
        ASSERT_EQ(p.cr, 0);
    }
    const Picture d = Decimate2(z);
    EXPECT_EQ(d.width, 32);
    EXPECT_EQ(d.height, 16);
    EXPECT_EQ(d.at(16, 8).y, z.at(32, 16).y);
    EXPECT_EQ(d.at(5, 3).y, z.at(10, 6).y);
}

// The plug-in's kernel as a frequency response, from the 16.16 taps it built.
double KernelGain(double f, int taps) {
    double g = 0;
    for (int k = 0; k <= 2 * taps; ++k)
        g += lowpass::kernelCache.horizontal.fixedTaps[k] / 65536.0 * std::cos(2 * std::numbers::pi * f * (k - taps));
    return g;
}

TEST(FrequencyResponse, MeasuredThroughFuncProcMatchesTheKernelsTaps) {
    for (int window = kCheckRectangular; window <= kCheckBlackman; ++window) {
        for (int taps : {3, 8}) {
            const FilterSettings s = Settings(640, 360, taps, window, 0);  // scalar: 16.16 taps exactly
            const std::vector<double> gains = MeasureResponse(s, window, nullptr);
            ASSERT_EQ(gains.size(), static_cast<std::size_t>(kResponsePoints));
            // The tables now hold the measurement frame's kernel (cutoff 0.25).
            ASSERT_EQ(lowpass::kernelCache.width, 1024);
            double worst = 0;
            for (int i = 0; i < kResponsePoints; ++i) {
                const double f = 0.5 * i / (kResponsePoints - 1);
                worst = std::max(worst, std::abs(gains[static_cast<std::size_t>(i)] - KernelGain(f, taps)));
            }
            EXPECT_LT(worst, 2e-4) << WindowName(window) << " N=" << taps;
            EXPECT_NEAR(gains[0], KernelGain(0, taps), 2e-4);
        }
    }
}

TEST(FrequencyResponse, PlotShowsTheFourCurvesInTheirColours) {
    std::vector<std::vector<double>> gains(4, std::vector<double>(kResponsePoints));
    for (int w = 0; w < 4; ++w)
        for (int i = 0; i < kResponsePoints; ++i) gains[w][i] = 1.0 - 0.2 * w - 0.001 * i;
    const RgbImage plot = DrawResponsePlot(gains, 3);
    // Each curve's colour appears, in the plot area, where its gain says.
    const Rgb colours[4] = {{220, 70, 40}, {30, 110, 220}, {30, 150, 60}, {150, 50, 170}};
    for (int w = 0; w < 4; ++w) {
        int count = 0;
        for (int y = 0; y < plot.height; ++y)
            for (int x = 0; x < plot.width; ++x) {
                const Rgb c = plot.Get(x, y);
                if (c.r == colours[w].r && c.g == colours[w].g && c.b == colours[w].b) ++count;
            }
        EXPECT_GT(count, 800) << "curve " << w;
    }
}

TEST(ZonePlateAliasing, TheFilterCutsTheFalseRingsAndKeepsThePassBand) {
    // The demo's own case: 1280 x 720, X = 640, Y = 360, the plug-in's
    // default taps and window, its own engine choice.
    const ZonePlateResult r = RunZonePlate(CliOptions{}, 1280, 720);
    EXPECT_EQ(r.settings.track[0], 640);
    EXPECT_EQ(r.settings.track[1], 360);
    // Without the filter the false rings carry the zone plate's full energy.
    EXPECT_NEAR(r.aliasUnfiltered, 0.5 * kZoneAmplitude * kZoneAmplitude, 0.02 * kZoneAmplitude * kZoneAmplitude);
    const double reduction = r.aliasUnfiltered / r.aliasFiltered;
    const double kept = r.passFiltered / r.passUnfiltered;
    std::printf("[ figures  ] alias energy %.0f -> %.0f: %.2f times less; pass band %.1f %% kept (engine %s)\n",
                r.aliasUnfiltered, r.aliasFiltered, reduction, 100 * kept, r.engine);
    // A filter in one direction only gives about 2.5, none at all 1.
    EXPECT_GT(reduction, 5.0);
    EXPECT_GT(kept, 0.85);
    EXPECT_LT(kept, 1.05);

    // The stronger kernel reduces more: the figure follows the settings.
    CliOptions strong;
    strong.taps = 8;
    const ZonePlateResult s = RunZonePlate(strong, 1280, 720);
    EXPECT_GT(s.aliasUnfiltered / s.aliasFiltered, 10.0);
}

TEST(ZonePlateAliasing, EveryEngineGivesTheSameReduction) {
    GetFilterTable();
    const int caps = lowpass::EngineCaps();
    std::vector<double> reductions;
    for (const lowpass::Engine& e : lowpass::Engines()) {
        if (!lowpass::CanRun(e, caps)) continue;
        CliOptions options;
        options.engine = &e;
        const ZonePlateResult r = RunZonePlate(options, 640, 360);
        EXPECT_STREQ(r.engine, e.name);
        reductions.push_back(r.aliasUnfiltered / r.aliasFiltered);
        EXPECT_GT(reductions.back(), 5.0) << e.name;
    }
    for (double reduction : reductions) EXPECT_NEAR(reduction, reductions[0], 0.02 * reductions[0]);
}

}  // namespace
