// The tool's command line: parsing, and turning it into the plug-in's
// settings with the plug-in's own defaults and ranges (read from the
// descriptor that GetFilterTable returns, never repeated here).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "plugin/filter_settings.h"
#include "simd/engines.h"
#include "tools/cli/video_io.h"

namespace lowpass::cli {

// --engine: an engine of the table, or null for the plug-in's own choice.
using EngineChoice = const lowpass::Engine*;

struct CliOptions {
    bool help = false;
    std::optional<std::string> demoDir;
    std::optional<int> x;
    std::optional<int> y;
    std::optional<int> taps;
    std::optional<int> window;  // kCheckRectangular .. kCheckBlackman
    std::optional<bool> simd;
    EngineChoice engine = nullptr;  // --engine auto
    VideoFormat format = VideoFormat::Y4m;
    int width = 0;  // --size, yc48 only
    int height = 0;
    std::string input = "-";
    std::string output = "-";
};

// The slider and check-box values handed to the plug-in.
struct FilterSettings {
    int track[kTrackCount];  // X, Y, taps
    int check[kCheckCount];  // SIMD, rectangular, Hanning, Hamming, Blackman
};

// Throws CliError(kExitUsage) on anything it does not understand.
CliOptions ParseOptions(const std::vector<std::string>& args);

// The options' values over the descriptor's defaults; a value outside the
// descriptor's slider range is an error. demoWidth/demoHeight, when not 0,
// replace the default X and Y (the demo's target size).
FilterSettings ResolveSettings(const CliOptions& options, const FILTER& descriptor, int defaultX = 0,
                               int defaultY = 0);

std::string HelpText(const FILTER& descriptor);

// "auto" for the plug-in's choice, else the engine's name.
const char* EngineName(EngineChoice engine);
const char* WindowName(int checkIndex);

}  // namespace lowpass::cli
