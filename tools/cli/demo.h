// lowpass --demo: what the filter does to a zone plate that is decimated
// 2:1, measured and drawn, with nothing but the tool itself.
#pragma once

#include <cstdio>
#include <vector>

#include "tools/cli/image.h"
#include "tools/cli/options.h"
#include "tools/cli/picture.h"

namespace lowpass::cli {

// Grey level and amplitude of the zone plate, in host luma units.
constexpr int kZoneMid = 2048;
constexpr int kZoneAmplitude = 1900;

// A zone plate: luma mid + amplitude * cos(pi * ((x - w/2)^2 / w + (y - h/2)^2 / h)),
// neutral chroma. Its local frequency is (x - w/2)/w cycles per pixel across
// and (y - h/2)/h down, so it rises from 0 at the centre to the Nyquist
// limit, 0.5, at the left and top edges.
Picture MakeZonePlate(int width, int height);

// Keeps every second pixel of every second row (pixel (2u, 2v) becomes (u, v)).
Picture Decimate2(const Picture& picture);

// Mean squared luma deviation from the zone plate's grey level, over the
// pixels of a 2:1 decimated zone plate whose source point has a local
// frequency between fLow and fHigh (cycles per pixel of the source, the
// larger of the two directions).
double ZoneBandEnergy(const Picture& decimated, int sourceWidth, int sourceHeight, double fLow, double fHigh);

// The bands the demo measures: what a 2:1 decimation folds back to below
// 0.4 of the new sampling rate (false low-frequency rings), and the pass
// band, which it keeps.
constexpr double kAliasBandLow = 0.30;
constexpr double kPassBandHigh = 0.10;

struct ZonePlateResult {
    Picture original;
    Picture unfiltered;  // decimated
    Picture filtered;    // filtered, then decimated
    FilterSettings settings{};
    const char* engine = "";
    double aliasUnfiltered = 0;
    double aliasFiltered = 0;
    double passUnfiltered = 0;
    double passFiltered = 0;
};

// Filters the zone plate through the plug-in with X = w/2, Y = h/2 and the
// options' (or the plug-in's default) taps, window, SIMD box and engine.
ZonePlateResult RunZonePlate(const CliOptions& options, int width, int height);

// Number of frequencies the response is measured at, 0 to 0.5 cycles per pixel.
constexpr int kResponsePoints = 201;

// The gain of the plug-in's horizontal filter at cutoff 0.25 (X = w/2) for
// frequencies 0.5 * i / (kResponsePoints - 1), measured through func_proc:
// each row of a 1024-pixel frame is a cosine of one frequency, and the gain
// is the filtered row's projection on it over the interior.
std::vector<double> MeasureResponse(const FilterSettings& settings, int window, EngineChoice engine);

// The four windows' curves (indexed kCheckRectangular - 1 ..) as a plot.
RgbImage DrawResponsePlot(const std::vector<std::vector<double>>& gains, int taps);

// The whole demo: writes the PNG files into options.demoDir and reports on out.
void RunDemo(const CliOptions& options, std::FILE* out);

}  // namespace lowpass::cli
