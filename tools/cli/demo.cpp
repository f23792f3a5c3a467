#include "tools/cli/demo.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "plugin/filter_export.h"
#include "tools/cli/cli_error.h"
#include "tools/cli/host_session.h"

namespace lowpass::cli {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Measurement frame of MeasureResponse: X = kResponseWidth / 2 gives the cutoff 0.25.
constexpr int kResponseWidth = 1024;
constexpr int kResponseAmplitude = 12000;
constexpr int kResponseMargin = 64;  // columns left out at each end (edge handling)

double Frequency(int point) { return 0.5 * point / (kResponsePoints - 1); }

const Rgb kWindowColours[4] = {{220, 70, 40}, {30, 110, 220}, {30, 150, 60}, {150, 50, 170}};
const char* const kWindowLabels[4] = {"rectangular", "Hanning", "Hamming", "Blackman"};

std::string Fixed(double v, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", digits, v);
    return text;
}

}  // namespace

Picture MakeZonePlate(int width, int height) {
    Picture picture(width, height);
    const double cx = width / 2;
    const double cy = height / 2;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            const double phase = kPi * (dx * dx / width + dy * dy / height);
            const auto luma = static_cast<std::int16_t>(std::lround(kZoneMid + kZoneAmplitude * std::cos(phase)));
            picture.at(x, y) = PIXEL_YC{luma, 0, 0};
        }
    return picture;
}

Picture Decimate2(const Picture& picture) {
    Picture out((picture.width + 1) / 2, (picture.height + 1) / 2);
    for (int v = 0; v < out.height; ++v)
        for (int u = 0; u < out.width; ++u) out.at(u, v) = picture.at(2 * u, 2 * v);
    return out;
}

double ZoneBandEnergy(const Picture& decimated, int sourceWidth, int sourceHeight, double fLow, double fHigh) {
    const double cx = sourceWidth / 2;
    const double cy = sourceHeight / 2;
    double sum = 0;
    long long count = 0;
    for (int v = 0; v < decimated.height; ++v)
        for (int u = 0; u < decimated.width; ++u) {
            const double fx = std::abs(2 * u - cx) / sourceWidth;
            const double fy = std::abs(2 * v - cy) / sourceHeight;
            const double f = std::max(fx, fy);
            if (f < fLow || f > fHigh) continue;
            const double d = decimated.at(u, v).y - kZoneMid;
            sum += d * d;
            ++count;
        }
    return count > 0 ? sum / static_cast<double>(count) : 0.0;
}

ZonePlateResult RunZonePlate(const CliOptions& options, int width, int height) {
    ZonePlateResult result;
    result.settings = ResolveSettings(options, *GetFilterTable(), width / 2, height / 2);
    result.original = MakeZonePlate(width, height);
    Picture filtered = result.original;
    {
        HostSession session(result.settings, options.engine);
        result.engine = session.engineName();
        session.Process(filtered);
    }
    result.unfiltered = Decimate2(result.original);
    result.filtered = Decimate2(filtered);
    result.aliasUnfiltered = ZoneBandEnergy(result.unfiltered, width, height, kAliasBandLow, 0.5);
    result.aliasFiltered = ZoneBandEnergy(result.filtered, width, height, kAliasBandLow, 0.5);
    result.passUnfiltered = ZoneBandEnergy(result.unfiltered, width, height, 0.0, kPassBandHigh);
    result.passFiltered = ZoneBandEnergy(result.filtered, width, height, 0.0, kPassBandHigh);
    return result;
}

std::vector<double> MeasureResponse(const FilterSettings& base, int window, EngineChoice engine) {
    FilterSettings settings = base;
    settings.track[0] = kResponseWidth / 2;
    settings.track[1] = kResponsePoints;  // not taller than Y: no vertical pass
    for (int i = kCheckRectangular; i <= kCheckBlackman; ++i) settings.check[i] = i == window ? 1 : 0;

    Picture frame(kResponseWidth, kResponsePoints);
    std::vector<double> basis(static_cast<std::size_t>(kResponsePoints) * kResponseWidth);
    for (int r = 0; r < kResponsePoints; ++r)
        for (int x = 0; x < kResponseWidth; ++x) {
            // Centred on the frame, so that a symmetric kernel keeps the phase.
            const double c = std::cos(2 * kPi * Frequency(r) * (x - kResponseWidth / 2));
            basis[static_cast<std::size_t>(r) * kResponseWidth + x] = c;
            frame.at(x, r) = PIXEL_YC{static_cast<std::int16_t>(std::lround(kResponseAmplitude * c)), 0, 0};
        }
    const Picture input = frame;
    HostSession session(settings, engine);
    session.Process(frame);

    std::vector<double> gains(kResponsePoints);
    for (int r = 0; r < kResponsePoints; ++r) {
        double in = 0, out = 0;
        for (int x = kResponseMargin; x < kResponseWidth - kResponseMargin; ++x) {
            const double c = basis[static_cast<std::size_t>(r) * kResponseWidth + x];
            in += input.at(x, r).y * c;
            out += frame.at(x, r).y * c;
        }
        gains[static_cast<std::size_t>(r)] = out / in;
    }
    return gains;
}

RgbImage DrawResponsePlot(const std::vector<std::vector<double>>& gains, int taps) {
    constexpr int kWidth = 960, kHeight = 600;
    constexpr int kLeft = 100, kRight = 920, kTop = 70, kBottom = 520;
    const Rgb white{255, 255, 255}, black{0, 0, 0}, grid{222, 222, 222}, grey{110, 110, 110};
    RgbImage image(kWidth, kHeight, white);

    double lo = 0.0, hi = 1.0;
    for (const auto& curve : gains)
        for (double g : curve) {
            lo = std::min(lo, g);
            hi = std::max(hi, g);
        }
    lo = std::floor(lo * 10 - 1e-9) / 10;
    hi = std::ceil(hi * 10 + 1e-9) / 10;
    auto px = [&](double f) { return kLeft + (kRight - kLeft) * f / 0.5; };
    auto py = [&](double g) { return kBottom - (kBottom - kTop) * (g - lo) / (hi - lo); };

    // Grid and tick labels: every 0.05 cycles per pixel, every 0.1 of gain.
    for (int i = 0; i <= 10; ++i) {
        const double f = 0.05 * i;
        const int x = static_cast<int>(std::lround(px(f)));
        image.Line(x, kTop, x, kBottom, grid);
        if (i % 2 == 0) {
            const std::string label = Fixed(f, 1);
            image.Text(x - RgbImage::TextWidth(label, 2) / 2, kBottom + 12, label, black, 2);
        }
    }
    const int steps = static_cast<int>(std::lround((hi - lo) * 10));
    for (int i = 0; i <= steps; ++i) {
        const double g = lo + 0.1 * i;
        const int y = static_cast<int>(std::lround(py(g)));
        image.Line(kLeft, y, kRight, y, grid);
        if (steps <= 14 || i % 2 == 0) {
            const std::string label = Fixed(std::abs(g) < 1e-9 ? 0.0 : g, 1);
            image.Text(kLeft - 10 - RgbImage::TextWidth(label, 2), y - 7, label, black, 2);
        }
    }
    // The cutoff, X/(2w) = 0.25: the new Nyquist limit of a 2:1 decimation.
    for (int y = kTop; y < kBottom; y += 12) image.Line(px(0.25), y, px(0.25), std::min(y + 6, kBottom), grey, 2);
    image.Text(static_cast<int>(px(0.25)) + 8, kTop + 8, "cutoff X/(2w)", grey, 2);
    // Zero gain, when it is inside the range, and the frame.
    if (lo < 0) image.Line(kLeft, py(0), kRight, py(0), grey);
    image.Line(kLeft, kTop, kLeft, kBottom, black, 2);
    image.Line(kLeft, kBottom, kRight, kBottom, black, 2);
    image.Line(kRight, kTop, kRight, kBottom, black);
    image.Line(kLeft, kTop, kRight, kTop, black);

    for (std::size_t w = 0; w < gains.size() && w < 4; ++w) {
        const auto& curve = gains[w];
        for (std::size_t i = 1; i < curve.size(); ++i)
            image.Line(px(Frequency(static_cast<int>(i) - 1)), py(curve[i - 1]), px(Frequency(static_cast<int>(i))),
                       py(curve[i]), kWindowColours[w], 3);
    }

    const std::string title = "gain of the filter, N = " + std::to_string(taps) + " (" + std::to_string(2 * taps + 1) +
                              " taps), X = w/2, measured through func_proc";
    image.Text((kWidth - RgbImage::TextWidth(title, 2)) / 2, 16, title, black, 2);
    const std::string axis = "frequency, cycles per pixel";
    image.Text((kLeft + kRight - RgbImage::TextWidth(axis, 2)) / 2, kBottom + 44, axis, black, 2);
    image.Text(kLeft - 10 - RgbImage::TextWidth("gain", 2), kTop - 32, "gain", black, 2);

    // Legend, top right inside the plot.
    const int legendX = kRight - 230, legendY = kTop + 40;
    image.FillRect(legendX - 12, legendY - 12, kRight - 12, legendY + 4 * 28 - 6, white);
    image.Line(legendX - 12, legendY - 12, kRight - 12, legendY - 12, grey);
    image.Line(legendX - 12, legendY + 4 * 28 - 6, kRight - 12, legendY + 4 * 28 - 6, grey);
    image.Line(legendX - 12, legendY - 12, legendX - 12, legendY + 4 * 28 - 6, grey);
    image.Line(kRight - 12, legendY - 12, kRight - 12, legendY + 4 * 28 - 6, grey);
    for (int w = 0; w < 4; ++w) {
        const int y = legendY + 28 * w;
        image.Line(legendX, y + 7, legendX + 40, y + 7, kWindowColours[w], 4);
        image.Text(legendX + 52, y, kWindowLabels[w], black, 2);
    }
    return image;
}

void RunDemo(const CliOptions& options, std::FILE* out) {
    constexpr int kWidth = 1280, kHeight = 720;
    const std::filesystem::path dir(*options.demoDir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) throw CliError(kExitIo, "cannot create " + dir.string() + ": " + ec.message());

    const ZonePlateResult zone = RunZonePlate(options, kWidth, kHeight);
    const int taps = zone.settings.track[2];
    std::string window = "blackman";
    for (int i = kCheckRectangular; i <= kCheckBlackman; ++i)
        if (zone.settings.check[i]) {
            window = WindowName(i);
            break;
        }
    std::fprintf(out, "lowpass demo: a %d x %d zone plate whose frequency rises from 0 at the centre to 0.5 cycles\n"
                      "per pixel (the Nyquist limit) at the left and top edges, decimated 2:1 to %d x %d\n",
                 kWidth, kHeight, kWidth / 2, kHeight / 2);
    std::fprintf(out, "filter: X=%d Y=%d taps=%d window=%s simd=%s, engine %s\n", zone.settings.track[0],
                 zone.settings.track[1], taps, window.c_str(), zone.settings.check[kCheckSimd] ? "on" : "off",
                 zone.engine);

    auto write = [&](const char* name, const auto& image, const char* what) {
        const std::string path = (dir / name).string();
        WritePng(path, image);
        std::fprintf(out, "wrote %-40s %s\n", path.c_str(), what);
    };
    write("zone-plate.png", LumaImage(zone.original), "the original zone plate, 1280 x 720");
    write("decimated-unfiltered.png", LumaImage(zone.unfiltered),
          "2:1 decimation without the filter: false rings near the edges");
    write("decimated-filtered.png", LumaImage(zone.filtered),
          "the same decimation after the filter: the false rings fainter");

    std::vector<std::vector<double>> gains;
    for (int w = kCheckRectangular; w <= kCheckBlackman; ++w)
        gains.push_back(MeasureResponse(zone.settings, w, options.engine));
    write("frequency-response.png", DrawResponsePlot(gains, taps),
          "gain of the four windows' kernels at this setting");

    const double reduction = zone.aliasUnfiltered / zone.aliasFiltered;
    std::fprintf(out,
                 "alias energy (decimated pixels whose source frequency is %.2f..0.5 cycles/pixel, folded back\n"
                 "  to false low-frequency rings): %.0f without the filter, %.0f with it: %.2f times less (%.1f dB)\n",
                 kAliasBandLow, zone.aliasUnfiltered, zone.aliasFiltered, reduction, 10 * std::log10(reduction));
    std::fprintf(out, "pass-band energy (source frequency below %.2f cycles/pixel): %.1f %% kept\n", kPassBandHigh,
                 100 * zone.passFiltered / zone.passUnfiltered);
    std::fprintf(out, "gain at 0.10 / 0.25 / 0.40 / 0.50 cycles/pixel:\n");
    for (int w = 0; w < 4; ++w) {
        const auto& g = gains[static_cast<std::size_t>(w)];
        auto at = [&](double f) { return g[static_cast<std::size_t>(std::lround(f / 0.5 * (kResponsePoints - 1)))]; };
        std::fprintf(out, "  %-12s %6.3f %6.3f %6.3f %6.3f\n", kWindowLabels[w], at(0.1), at(0.25), at(0.4), at(0.5));
    }
}

}  // namespace lowpass::cli
