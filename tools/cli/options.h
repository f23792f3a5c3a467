// The tool's command line: parsing, and turning it into the plug-in's
// settings with the plug-in's own defaults and ranges (read from the
// descriptor that GetFilterTable returns, never repeated here).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "tools/cli/video_io.h"

namespace lowpass::cli {

enum class Engine { Auto, Scalar, Mmx, Sse };

// Window boxes, as indices of the check array (index 0 is the SIMD box).
constexpr int kCheckSimd = 0;
constexpr int kCheckRectangular = 1;
constexpr int kCheckHanning = 2;
constexpr int kCheckHamming = 3;
constexpr int kCheckBlackman = 4;
constexpr int kTrackCount = 3;
constexpr int kCheckCount = 5;

struct CliOptions {
    bool help = false;
    std::optional<std::string> demoDir;
    std::optional<int> x;
    std::optional<int> y;
    std::optional<int> taps;
    std::optional<int> window;  // kCheckRectangular .. kCheckBlackman
    std::optional<bool> simd;
    Engine engine = Engine::Auto;
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

const char* EngineName(Engine engine);
const char* WindowName(int checkIndex);

}  // namespace lowpass::cli
