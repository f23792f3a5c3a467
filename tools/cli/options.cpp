#include "tools/cli/options.h"

#include <charconv>
#include <vector>

#include "tools/cli/cli_error.h"
#include "tools/threads/thread_pool.h"

namespace lowpass::cli {

namespace {

[[noreturn]] void Usage(const std::string& message) {
    throw CliError(kExitUsage, message + " (see lowpass --help)");
}

int ParseInt(const std::string& option, const std::string& text) {
    int value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size())
        Usage(option + " needs a whole number, got " + Quote(text));
    return value;
}

int ParseWindow(const std::string& text) {
    if (text == "rect" || text == "rectangular") return kCheckRectangular;
    if (text == "hanning") return kCheckHanning;
    if (text == "hamming") return kCheckHamming;
    if (text == "blackman") return kCheckBlackman;
    Usage("--window must be rect, hanning, hamming or blackman, not " + Quote(text));
}

bool ParseOnOff(const std::string& option, const std::string& text) {
    if (text == "on") return true;
    if (text == "off") return false;
    Usage(option + " must be on or off, not " + Quote(text));
}

// The engines --engine may force: those of the registry the plug-in the
// tool hosts may use.
std::vector<const lowpass::Engine*> ToolEngines() {
    std::vector<const lowpass::Engine*> engines;
    for (const lowpass::Engine& engine : lowpass::Engines())
        if ((engine.frontEnds & lowpass::kFrontEndAuf) != 0) engines.push_back(&engine);
    return engines;
}

// "auto, portable, mmx or sse": the names --engine takes.
std::string EngineNames() {
    std::string names = "auto";
    const auto engines = ToolEngines();
    for (std::size_t i = 0; i < engines.size(); ++i) {
        names.append(i + 1 == engines.size() ? " or " : ", ");
        names.append(engines[i]->name);
    }
    return names;
}

EngineChoice ParseEngine(const std::string& text) {
    if (text == "auto") return nullptr;
    const lowpass::Engine* engine = lowpass::FindEngine(text);
    if (engine != nullptr && (engine->frontEnds & lowpass::kFrontEndAuf) != 0) return engine;
    Usage("--engine must be " + EngineNames() + ", not " + Quote(text));
}

VideoFormat ParseFormat(const std::string& text) {
    if (text == "y4m") return VideoFormat::Y4m;
    if (text == "yc48") return VideoFormat::Yc48;
    Usage("--format must be y4m or yc48, not " + Quote(text));
}

void ParseSize(const std::string& text, int& width, int& height) {
    const auto cross = text.find('x');
    if (cross == std::string::npos) Usage("--size needs WxH, for example 1920x1080, got " + Quote(text));
    const std::string w = text.substr(0, cross);
    const std::string h = text.substr(cross + 1);
    width = ParseInt("--size", w);
    height = ParseInt("--size", h);
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension ||
        static_cast<long long>(width) * height > kMaxPixels)
        Usage("--size " + text + " is not a frame size this tool accepts (1x1 up to 8192x4608 pixels, sides up to 16384)");
}

int CheckRange(const char* option, int value, const FILTER& descriptor, int slider) {
    const int lo = descriptor.track_s[slider];
    const int hi = descriptor.track_e[slider];
    if (value < lo || value > hi)
        Usage(std::string(option) + " " + std::to_string(value) + " is out of range " + std::to_string(lo) + ".." +
              std::to_string(hi));
    return value;
}

}  // namespace

const char* EngineName(EngineChoice engine) { return engine != nullptr ? engine->name : "auto"; }

const char* WindowName(int checkIndex) {
    switch (checkIndex) {
        case kCheckRectangular: return "rect";
        case kCheckHanning: return "hanning";
        case kCheckHamming: return "hamming";
        case kCheckBlackman: return "blackman";
        default: return "?";
    }
}

CliOptions ParseOptions(const std::vector<std::string>& args) {
    CliOptions options;
    std::vector<std::string> positional;
    bool haveSize = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg == "-" || arg.empty() || arg[0] != '-') {
            positional.push_back(arg);
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            continue;
        }
        // The option's value: "--name=value", "-xVALUE" or the next argument.
        std::string name = arg;
        std::optional<std::string> value;
        if (arg.rfind("--", 0) == 0) {
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            value = arg.substr(2);
        }
        static const char* const kWithValue[] = {"-x", "-y", "--taps", "--window", "--simd", "--engine",
                                                 "--format", "--size", "--demo", "--threads"};
        bool known = false;
        for (const char* n : kWithValue) known = known || name == n;
        if (!known) Usage("unknown option " + Quote(arg));
        if (!value) {
            if (i + 1 >= args.size()) Usage(name + " needs a value");
            value = args[++i];
        }
        if (name == "-x") options.x = ParseInt(name, *value);
        else if (name == "-y") options.y = ParseInt(name, *value);
        else if (name == "--taps") options.taps = ParseInt(name, *value);
        else if (name == "--window") options.window = ParseWindow(*value);
        else if (name == "--simd") options.simd = ParseOnOff(name, *value);
        else if (name == "--engine") options.engine = ParseEngine(*value);
        else if (name == "--format") options.format = ParseFormat(*value);
        else if (name == "--threads") {
            options.threads = ParseInt(name, *value);
            if (options.threads < 1 || options.threads > threads::kMaxThreads)
                Usage("--threads must be 1.." + std::to_string(threads::kMaxThreads) + ", not " + *value);
        }
        else if (name == "--size") {
            ParseSize(*value, options.width, options.height);
            haveSize = true;
        } else if (name == "--demo") {
            if (value->empty()) Usage("--demo needs a folder");
            options.demoDir = *value;
        }
    }
    if (options.help) return options;
    if (options.demoDir) {
        if (!positional.empty()) Usage("--demo takes no input or output file");
        if (options.x || options.y) Usage("--demo sets X and Y itself (half the zone plate's size); leave out -x and -y");
        if (haveSize || options.format != VideoFormat::Y4m) Usage("--demo takes no --format or --size");
        return options;
    }
    if (positional.size() > 2) Usage("too many file names: " + Quote(positional[2]));
    if (positional.size() >= 1) options.input = positional[0];
    if (positional.size() >= 2) options.output = positional[1];
    if (options.format == VideoFormat::Yc48 && !haveSize) Usage("--format yc48 needs --size WxH");
    if (options.format != VideoFormat::Yc48 && haveSize)
        Usage("--size applies to --format yc48 only (a YUV4MPEG2 stream states its size)");
    return options;
}

FilterSettings ResolveSettings(const CliOptions& options, const FILTER& descriptor, int defaultX, int defaultY) {
    if (descriptor.track_n != kTrackCount || descriptor.check_n != kCheckCount || descriptor.track_default == nullptr ||
        descriptor.track_s == nullptr || descriptor.track_e == nullptr || descriptor.check_default == nullptr)
        throw CliError(kExitUsage, "the plug-in's descriptor does not have the three sliders and five boxes this tool sets");
    FilterSettings settings{};
    for (int i = 0; i < kTrackCount; ++i) settings.track[i] = descriptor.track_default[i];
    for (int i = 0; i < kCheckCount; ++i) settings.check[i] = descriptor.check_default[i];
    if (defaultX != 0) settings.track[0] = defaultX;
    if (defaultY != 0) settings.track[1] = defaultY;
    if (options.x) settings.track[0] = *options.x;
    if (options.y) settings.track[1] = *options.y;
    if (options.taps) settings.track[2] = *options.taps;
    CheckRange("-x", settings.track[0], descriptor, 0);
    CheckRange("-y", settings.track[1], descriptor, 1);
    CheckRange("--taps", settings.track[2], descriptor, 2);
    if (options.window) {
        for (int i = kCheckRectangular; i <= kCheckBlackman; ++i) settings.check[i] = 0;
        settings.check[*options.window] = 1;
    }
    if (options.simd) settings.check[kCheckSimd] = *options.simd ? 1 : 0;
    return settings;
}

std::string HelpText(const FILTER& d) {
    auto range = [&](int slider) {
        return std::to_string(d.track_s[slider]) + ".." + std::to_string(d.track_e[slider]) + ", default " +
               std::to_string(d.track_default[slider]);
    };
    std::string window = "blackman";  // the plug-in's choice when no window box is on
    for (int i = kCheckRectangular; i <= kCheckBlackman; ++i)
        if (d.check_default[i]) {
            window = WindowName(i);
            break;
        }
    const std::string simd = d.check_default[kCheckSimd] ? "on" : "off";
    std::string engines = "auto";
    for (const lowpass::Engine* engine : ToolEngines()) {
        engines.push_back('|');
        engines.append(engine->name);
    }
    return "usage: lowpass [options] [INPUT [OUTPUT]]\n"
           "       lowpass --demo DIR [--taps N] [--window W] [--simd on|off] [--engine E]\n"
           "\n"
           "Runs the low-pass (anti-alias) plug-in over video, as the AviUtl host would:\n"
           "rows of frames wider than X are low-passed with cutoff X/(2*width) cycles per\n"
           "pixel, columns of frames taller than Y with Y/(2*height). The frame size does\n"
           "not change; scale it down to X x Y afterwards. INPUT and OUTPUT are files, or\n"
           "- (the default) for standard input and output.\n"
           "\n"
           "options:\n"
           "  -x N            target width X (" +
           range(0) +
           ")\n"
           "  -y N            target height Y (" +
           range(1) +
           ")\n"
           "  --taps N        kernel half-length N, 2N+1 taps (" +
           range(2) +
           ")\n"
           "  --window W      rect|hanning|hamming|blackman (default " +
           window +
           ")\n"
           "  --simd on|off   let the plug-in choose a vector engine (default " +
           simd +
           ")\n"
           "  --engine E      " +
           engines +
           " (default auto: the plug-in's own choice);\n"
           "                  forcing an engine overrides --simd, and one the processor\n"
           "                  cannot run is refused (scalar: the portable engine's\n"
           "                  older name)\n"
           "  --format F      y4m|yc48 (default y4m); the output has the input's format\n"
           "                  y4m: YUV4MPEG2, 8-bit C444 or Cmono (ffmpeg -pix_fmt yuv444p\n"
           "                  or gray -f yuv4mpegpipe); header and FRAME lines are copied\n"
           "                  yc48: raw host frames, w*h pixels row after row, each three\n"
           "                  little-endian int16 samples y, cb, cr\n"
           "  --size WxH      frame size of yc48 input\n"
           "  --threads N     threads that filter and convert the frames, 1.." +
           std::to_string(threads::kMaxThreads) +
           "\n"
           "                  (default one per processor, here " +
           std::to_string(threads::ProcessorCount()) +
           "); with more than 1,\n"
           "                  one more thread reads and one writes meanwhile; the\n"
           "                  output is the same for every N\n"
           "  --demo DIR      write zone-plate pictures and the kernels' frequency response\n"
           "                  as PNG files into DIR, and print the alias energy measured\n"
           "  -h, --help      this text\n"
           "\n"
           "8-bit samples and the host's (y 0..4096, cb and cr -2048..2048 nominal):\n"
           "  y_host = floor((y8 - 16) * 4096 / 219 + 1/2)\n"
           "  c_host = floor((c8 - 128) * 4096 / 224 + 1/2)\n"
           "  y8 = clip(16 + floor(y_host * 219 / 4096 + 1/2), 0, 255)\n"
           "  c8 = clip(128 + floor(c_host * 224 / 4096 + 1/2), 0, 255)\n"
           "Greyscale input has neutral chroma (0); greyscale output drops the chroma.\n"
           "\n"
           "Errors are one line on standard error; frames before a fault are written\n"
           "whole (when a write fails part-way, an output file is cut back to its last\n"
           "whole frame; for a pipe the message says how many whole frames it got),\n"
           "frame numbers count from 1. Exit status: 0 done, 1 bad input video,\n"
           "2 bad option or engine not available, 3 a file could not be read or written.\n"
           "A progress line appears when standard error is a terminal.\n";
}

}  // namespace lowpass::cli
