// The built lowpass program, run as a subprocess on clips that ffmpeg makes
// in the test: its output is, frame by frame, what the plug-in's func_proc
// gives a host; raw host frames round-trip bit for bit; each engine gives
// its own output; every bad input fails with one line and a status, after
// writing the frames before the fault whole.
#include <gtest/gtest.h>
#include <png.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/frame_driver.h"
#include "plugin/filter_export.h"
#include "plugin/frame_proc.h"
#include "plugin/plugin_state.h"
#include "simd/cpu_probe.h"
#include "tests/cli/reference_host.h"
#include "tests/cli/tool_runner.h"
#include "tests/support/random_seed.h"
#include "tools/cli/options.h"

using namespace lowpass::clitest;
using lowpass::cli::FilterSettings;
using lowpass::cli::Picture;

namespace {

// A Y4M stream split by the test's own reader (not the tool's).
struct Y4mClip {
    std::string header;
    std::vector<std::string> frameLines;
    std::vector<std::string> frames;  // picture bytes of each frame
};

bool SplitY4m(const std::string& bytes, std::size_t frameBytes, Y4mClip& clip, std::string* why) {
    std::size_t pos = bytes.find('\n');
    if (pos == std::string::npos) {
        *why = "no header line";
        return false;
    }
    clip.header = bytes.substr(0, pos);
    ++pos;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos || bytes.compare(pos, 5, "FRAME") != 0) {
            *why = "bad FRAME line at byte " + std::to_string(pos);
            return false;
        }
        clip.frameLines.push_back(bytes.substr(pos, end - pos));
        pos = end + 1;
        if (bytes.size() - pos < frameBytes) {
            *why = "short frame at byte " + std::to_string(pos);
            return false;
        }
        clip.frames.push_back(bytes.substr(pos, frameBytes));
        pos += frameBytes;
    }
    return true;
}

// The 8-bit map of the README's Formats section, in real numbers.
std::int16_t LumaIn(unsigned char v) { return static_cast<std::int16_t>(std::floor((v - 16) * 4096.0 / 219 + 0.5)); }
std::int16_t ChromaIn(unsigned char v) { return static_cast<std::int16_t>(std::floor((v - 128) * 4096.0 / 224 + 0.5)); }
char Out(double v) { return static_cast<char>(v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v))); }
char LumaOut(int s) { return Out(16 + std::floor(s * 219.0 / 4096 + 0.5)); }
char ChromaOut(int s) { return Out(128 + std::floor(s * 224.0 / 4096 + 0.5)); }

Picture DecodePlanes(const std::string& data, int w, int h, bool mono) {
    Picture p(w, h);
    const std::size_t n = static_cast<std::size_t>(w) * h;
    for (std::size_t i = 0; i < n; ++i) {
        p.pixels[i].y = LumaIn(static_cast<unsigned char>(data[i]));
        p.pixels[i].cb = mono ? 0 : ChromaIn(static_cast<unsigned char>(data[n + i]));
        p.pixels[i].cr = mono ? 0 : ChromaIn(static_cast<unsigned char>(data[2 * n + i]));
    }
    return p;
}

std::string EncodePlanes(const Picture& p, bool mono) {
    const std::size_t n = p.pixels.size();
    std::string data(mono ? n : 3 * n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = LumaOut(p.pixels[i].y);
        if (!mono) {
            data[n + i] = ChromaOut(p.pixels[i].cb);
            data[2 * n + i] = ChromaOut(p.pixels[i].cr);
        }
    }
    return data;
}

std::string Yc48Bytes(const Picture& p) {
    std::string data;
    for (const PIXEL_YC& px : p.pixels)
        for (std::int16_t s : {px.y, px.cb, px.cr}) {
            const auto u = static_cast<std::uint16_t>(s);
            data += static_cast<char>(u & 0xff);
            data += static_cast<char>(u >> 8);
        }
    return data;
}

int ByteMismatches(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return static_cast<int>(std::max(a.size(), b.size()));
    int n = 0;
    for (std::size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
    return n;
}

constexpr int kW = 96, kH = 64, kFrames = 3;

// A clip from ffmpeg's testsrc2 (moving colour pattern with text): 3 frames.
std::string MakeClip(const std::string& pixFmt, int w = kW, int h = kH) {
    std::string error;
    const std::string clip =
        Ffmpeg({"-f", "lavfi", "-i",
                "testsrc2=size=" + std::to_string(w) + "x" + std::to_string(h) + ":rate=5:duration=0.6", "-pix_fmt",
                pixFmt, "-f", "yuv4mpegpipe"},
               &error);
    EXPECT_FALSE(clip.empty()) << error;
    return clip;
}

int DefaultSimd() { return GetFilterTable()->check_default[0]; }

// The frames the tool should write for a Y4M clip and settings.
std::vector<std::string> ExpectedFrames(const Y4mClip& clip, const FilterSettings& s, bool mono) {
    std::vector<std::string> out;
    for (const std::string& frame : clip.frames)
        out.push_back(EncodePlanes(Reference(DecodePlanes(frame, kW, kH, mono), s), mono));
    return out;
}

TEST(EndToEnd, AnFfmpegClipComesOutAsFuncProcGivesIt) {
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    Y4mClip in;
    std::string why;
    ASSERT_TRUE(SplitY4m(clip, 3 * kW * kH, in, &why)) << why;
    ASSERT_EQ(in.frames.size(), static_cast<std::size_t>(kFrames));
    ASSERT_NE(in.header.find(" C444"), std::string::npos) << in.header;

    const RunResult r = RunTool({"-x", "48", "-y", "32", "--taps", "4", "--window", "hamming"}, clip);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress line when standard error is not a terminal
    Y4mClip out;
    ASSERT_TRUE(SplitY4m(r.out, 3 * kW * kH, out, &why)) << why;
    EXPECT_EQ(out.header, in.header);
    EXPECT_EQ(out.frameLines, in.frameLines);
    ASSERT_EQ(out.frames.size(), in.frames.size());

    const FilterSettings s = Settings(48, 32, 4, lowpass::kCheckHamming, DefaultSimd());
    const std::vector<std::string> expected = ExpectedFrames(in, s, false);
    for (int f = 0; f < kFrames; ++f) {
        EXPECT_EQ(ByteMismatches(out.frames[f], expected[f]), 0) << "frame " << f + 1;
        // The filter did something: a third or more of the samples changed.
        EXPECT_GT(ByteMismatches(out.frames[f], in.frames[f]), kW * kH);
    }
}

TEST(EndToEnd, FramesNoLargerThanTheTargetPassThroughByteForByte) {
    // 96 x 64 is inside the default 320 x 240: no pass runs, and the 8-bit
    // samples survive the trip through the host's samples unchanged.
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    const RunResult r = RunTool({}, clip);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), clip.size());
    EXPECT_EQ(ByteMismatches(r.out, clip), 0);
}

TEST(EndToEnd, AGreyscaleClipKeepsItsFormWithNeutralChromaInside) {
    const std::string clip = MakeClip("gray");
    ASSERT_FALSE(clip.empty());
    Y4mClip in;
    std::string why;
    ASSERT_TRUE(SplitY4m(clip, kW * kH, in, &why)) << why;
    ASSERT_NE(in.header.find(" Cmono"), std::string::npos) << in.header;
    const RunResult r = RunTool({"-x", "40", "-y", "40", "--window", "rect", "--taps", "9"}, clip);
    ASSERT_EQ(r.status, 0) << r.err;
    Y4mClip out;
    ASSERT_TRUE(SplitY4m(r.out, kW * kH, out, &why)) << why;
    EXPECT_EQ(out.header, in.header);
    ASSERT_EQ(out.frames.size(), static_cast<std::size_t>(kFrames));
    const auto expected = ExpectedFrames(in, Settings(40, 40, 9, lowpass::kCheckRectangular, DefaultSimd()), true);
    for (int f = 0; f < kFrames; ++f) EXPECT_EQ(ByteMismatches(out.frames[f], expected[f]), 0) << "frame " << f + 1;
}

TEST(EndToEnd, FilesAndPipesGiveTheSameBytes) {
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), clip);
    const std::vector<std::string> settings = {"-x", "64", "-y", "48", "--window", "hanning"};
    const RunResult piped = RunTool(settings, clip);
    ASSERT_EQ(piped.status, 0) << piped.err;

    std::vector<std::string> files = settings;
    files.push_back(dir.Path("in.y4m"));
    files.push_back(dir.Path("out.y4m"));
    const RunResult toFile = RunTool(files);
    ASSERT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, "");
    EXPECT_EQ(ReadFile(dir.Path("out.y4m")), piped.out);

    std::vector<std::string> dashes = settings;
    dashes.push_back(dir.Path("in.y4m"));
    dashes.push_back("-");
    const RunResult toStdout = RunTool(dashes);
    EXPECT_EQ(toStdout.out, piped.out);
}

TEST(EndToEnd, RawHostFramesRoundTripBitForBit) {
    // Samples over the whole int16 range; X = w and Y = h: no pass runs.
    constexpr int w = 50, h = 40;
    std::string input;
    const lowpass::testing::TestSeed seed(100);
    for (int f = 0; f < 3; ++f) input += Yc48Bytes(RandomPicture(w, h, seed + f, -32768, 32767));
    const RunResult r = RunTool({"--format", "yc48", "--size", "50x40", "-x", "50", "-y", "40"}, input);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.size(), input.size());
    EXPECT_EQ(ByteMismatches(r.out, input), 0);
}

TEST(EndToEnd, RawHostFramesAreFilteredAsFuncProcFiltersThem) {
    constexpr int w = 50, h = 40;
    std::vector<Picture> frames;
    std::string input;
    const lowpass::testing::TestSeed seed(200);
    for (int f = 0; f < 3; ++f) {
        frames.push_back(RandomPicture(w, h, seed + f, -4000, 8000));
        input += Yc48Bytes(frames.back());
    }
    const RunResult r = RunTool({"--format=yc48", "--size=50x40", "-x", "32", "-y", "32", "--taps", "7"}, input);
    ASSERT_EQ(r.status, 0) << r.err;
    std::string expected;
    for (const Picture& p : frames)
        expected += Yc48Bytes(Reference(p, Settings(32, 32, 7, lowpass::kCheckBlackman, DefaultSimd())));
    EXPECT_EQ(r.out.size(), expected.size());
    EXPECT_EQ(ByteMismatches(r.out, expected), 0);
}

TEST(EndToEnd, EachEngineGivesThatEnginesOutput) {
    constexpr int w = 70, h = 50;
    std::vector<Picture> frames;
    std::string input;
    const lowpass::testing::TestSeed seed(300);
    for (int f = 0; f < 2; ++f) {
        frames.push_back(RandomPicture(w, h, seed + f, -4000, 8000));
        input += Yc48Bytes(frames.back());
    }
    GetFilterTable();
    const int caps = lowpass::EngineCaps();
    std::string scalarOut;
    int ran = 0;
    for (const lowpass::Engine& e : lowpass::Engines()) {
        const RunResult r =
            RunTool({"--format", "yc48", "--size", "70x50", "-x", "32", "-y", "32", "--taps", "5", "--engine", e.name},
                    input);
        if (!lowpass::CanRun(e, caps)) {
            EXPECT_EQ(r.status, 2) << e.name;
            EXPECT_NE(r.err.find("cannot run"), std::string::npos) << r.err;
            EXPECT_EQ(r.out, "");
            continue;
        }
        ASSERT_EQ(r.status, 0) << e.name << ": " << r.err;
        std::string expected;
        for (const Picture& p : frames)
            expected += Yc48Bytes(Reference(p, Settings(32, 32, 5, lowpass::kCheckBlackman, 1), lowpass::FrameProcFor(e)));
        EXPECT_EQ(ByteMismatches(r.out, expected), 0) << e.name;
        if (&e == &lowpass::PortableEngine())
            scalarOut = r.out;
        else
            EXPECT_GT(ByteMismatches(r.out, scalarOut), 0) << e.name << " output is the scalar one";
        ++ran;
    }
    EXPECT_GE(ran, 1);
}

// Every error: exactly one line on standard error, starting with the name.
void ExpectOneLine(const RunResult& r, const std::string& says, const std::string& label) {
    EXPECT_EQ(r.err.rfind("lowpass: ", 0), 0u) << label << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << label << ": " << r.err;
    EXPECT_EQ(r.err.empty() ? ' ' : r.err.back(), '\n') << label;
    EXPECT_NE(r.err.find(says), std::string::npos) << label << ": " << r.err;
}

TEST(BadInput, TruncatedAndMalformedFramesStopAfterTheWholeFramesBeforeThem) {
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    const std::vector<std::string> settings = {"-x", "48", "-y", "32"};
    const RunResult full = RunTool(settings, clip);
    ASSERT_EQ(full.status, 0) << full.err;
    const std::size_t headerBytes = clip.find('\n') + 1;
    const std::size_t frameBytes = 6 + 3 * kW * kH;  // "FRAME\n" and the planes
    ASSERT_EQ(clip.size(), headerBytes + kFrames * frameBytes);
    auto firstFrames = [&](int n) { return full.out.substr(0, headerBytes + n * frameBytes); };

    struct Case {
        std::string label;
        std::string input;
        std::string says;
        int wholeFrames;
    } cases[] = {
        {"last frame cut in half", clip.substr(0, clip.size() - frameBytes / 2),
         "frame 3 (counted from 1) is truncated: the input ends after", 2},
        {"one byte missing", clip.substr(0, clip.size() - 1), "ends after 18431 of its 18432 bytes", 2},
        {"cut inside a FRAME line", clip.substr(0, headerBytes + frameBytes + 3),
         "frame 2 (counted from 1) is truncated: the input ends inside its FRAME header", 1},
        {"cut after a FRAME line", clip.substr(0, headerBytes + frameBytes + 6),
         "frame 2 (counted from 1) is truncated: the input ends after 0 of", 1},
        {"bad frame marker", clip.substr(0, headerBytes + 2 * frameBytes) + "FRAMX" +
                                 clip.substr(headerBytes + 2 * frameBytes + 5),
         "frame 3 (counted from 1): expected a FRAME header, found 'FRAMX'", 2},
        {"garbage after the last frame", clip + "junk", "frame 4 (counted from 1) is truncated", 3},
        {"header only, cut", clip.substr(0, headerBytes - 1), "ends inside it", -1},
    };
    // One thread, and three: a thread reading ahead meets the fault while
    // the frames before it are still being filtered and written.
    for (const char* threads : {"1", "3"}) {
        std::vector<std::string> args = settings;
        args.insert(args.end(), {"--threads", threads});
        for (const Case& c : cases) {
            const std::string label = c.label + ", " + threads + " threads";
            const RunResult r = RunTool(args, c.input);
            EXPECT_EQ(r.status, 1) << label;
            ExpectOneLine(r, c.says, label);
            if (c.wholeFrames >= 0) {
                EXPECT_EQ(r.out.size(), headerBytes + c.wholeFrames * frameBytes) << label;
                EXPECT_EQ(ByteMismatches(r.out, firstFrames(c.wholeFrames)), 0) << label;
            } else {
                EXPECT_EQ(r.out, "") << label;
            }
        }
    }
}

TEST(BadInput, HeadersTheToolCannotReadAreRefusedWithoutOutput) {
    const std::string yuv420 = MakeClip("yuv420p");
    ASSERT_FALSE(yuv420.empty());
    const struct {
        std::string label;
        std::string input;
        std::string says;
    } cases[] = {
        {"4:2:0 from ffmpeg", yuv420, "convert with ffmpeg -pix_fmt yuv444p"},
        {"4:2:2", "YUV4MPEG2 W8 H8 F25:1 C422\nFRAME\n" + std::string(128, 'x'), "C422"},
        {"no width", "YUV4MPEG2 H8 C444\n", "no width"},
        {"zero height", "YUV4MPEG2 W8 H0 C444\n", "height"},
        {"huge size", "YUV4MPEG2 W16000 H16000 C444\nFRAME\n", "larger than"},
        {"not Y4M", std::string("\x89PNG\r\n\x1a\n", 8) + std::string(100, '\0'), "not YUV4MPEG2"},
        {"empty", "", "empty"},
        {"endless header", "YUV4MPEG2 W8 H8 C444 X" + std::string(20000, 'a'), "no end of line"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunTool({}, c.input);
        EXPECT_EQ(r.status, 1) << c.label;
        ExpectOneLine(r, c.says, c.label);
        EXPECT_EQ(r.out, "") << c.label;
    }
    // A header fault does not create the output file.
    ScratchDir dir;
    WriteFile(dir.Path("bad.y4m"), "YUV4MPEG2 W8 H8 C420\n");
    const RunResult r = RunTool({dir.Path("bad.y4m"), dir.Path("out.y4m")});
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.y4m")));
}

TEST(BadInput, RawFramesThatAreNotWholeFramesStopAfterTheWholeOnes) {
    constexpr int w = 20, h = 10;
    std::string input;
    const lowpass::testing::TestSeed seed(400);
    for (int f = 0; f < 3; ++f) input += Yc48Bytes(RandomPicture(w, h, seed + f, -1000, 5000));
    const std::vector<std::string> settings = {"--format", "yc48", "--size", "20x10", "-x", "32", "-y", "32"};
    const RunResult full = RunTool(settings, input);
    ASSERT_EQ(full.status, 0) << full.err;
    const std::size_t frameBytes = w * h * 6;
    const RunResult r = RunTool(settings, input.substr(0, 2 * frameBytes + 599));
    EXPECT_EQ(r.status, 1);
    ExpectOneLine(r, "frame 3 (counted from 1) is truncated: the input ends after 599 of its 1200 bytes", "yc48");
    EXPECT_NE(r.err.find("not a whole number of 20x10 frames"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, full.out.substr(0, 2 * frameBytes));
    // Right size, wrong --size: the mismatch shows as a partial frame.
    const RunResult wrongSize = RunTool({"--format", "yc48", "--size", "20x7"}, input);
    EXPECT_EQ(wrongSize.status, 1);
    ExpectOneLine(wrongSize, "frame 5 (counted from 1) is truncated", "wrong size");
    EXPECT_EQ(wrongSize.out.size(), 4u * 20 * 7 * 6);
}

TEST(BadInput, OptionsOutOfRangeOrUnknownAreRefusedBeforeAnyOutput) {
    const FILTER* d = GetFilterTable();
    const std::string clip = "YUV4MPEG2 W40 H40 C444\nFRAME\n" + std::string(3 * 40 * 40, '\x80');
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{"-x", std::to_string(d->track_s[0] - 1)}, "out of range"},
        {{"-x", std::to_string(d->track_e[0] + 1)}, "out of range"},
        {{"-y", std::to_string(d->track_s[1] - 1)}, "out of range"},
        {{"-y", std::to_string(d->track_e[1] + 1)}, "out of range"},
        {{"--taps", std::to_string(d->track_s[2] - 1)}, "out of range"},
        {{"--taps", std::to_string(d->track_e[2] + 1)}, "out of range"},
        {{"-x", "wide"}, "whole number"},
        {{"--window", "kaiser"}, "--window"},
        {{"--engine", "neon"}, "--engine"},
        {{"--simd", "maybe"}, "on or off"},
        {{"--frobnicate"}, "unknown option"},
        {{"--format", "yc48"}, "--size"},
        {{"--format", "yc48", "--size", "0x1"}, "--size"},
        {{"--threads", "0"}, "--threads must be 1..256"},
        {{"--threads", "257"}, "--threads must be 1..256"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunTool(c.args, clip);
        EXPECT_EQ(r.status, 2) << c.args[0];
        ExpectOneLine(r, c.says, c.args[0]);
        EXPECT_EQ(r.out, "") << c.args[0];
    }
    // The limits themselves are accepted.
    for (int slider = 0; slider < 3; ++slider) {
        const char* option = slider == 0 ? "-x" : (slider == 1 ? "-y" : "--taps");
        for (int v : {d->track_s[slider], d->track_e[slider]}) {
            const RunResult r = RunTool({option, std::to_string(v)}, clip);
            EXPECT_EQ(r.status, 0) << option << " " << v << ": " << r.err;
        }
    }
}

TEST(BadInput, FilesThatCannotBeOpenedOrWouldBeOverwritten) {
    ScratchDir dir;
    const RunResult missing = RunTool({dir.Path("no-such.y4m")});
    EXPECT_EQ(missing.status, 3);
    ExpectOneLine(missing, "cannot open", "missing input");

    const std::string clip = "YUV4MPEG2 W4 H4 C444\nFRAME\n" + std::string(48, '\x80');
    WriteFile(dir.Path("in.y4m"), clip);
    const RunResult noFolder = RunTool({dir.Path("in.y4m"), dir.Path("no-folder/out.y4m")});
    EXPECT_EQ(noFolder.status, 3);
    ExpectOneLine(noFolder, "cannot create", "output folder missing");

    const RunResult same = RunTool({dir.Path("in.y4m"), dir.Path("in.y4m")});
    EXPECT_EQ(same.status, 2);
    ExpectOneLine(same, "is the input file", "same file");
    EXPECT_EQ(ReadFile(dir.Path("in.y4m")), clip);
}

TEST(WriteFault, AFileIsCutBackToItsWholeFramesAndAPipeIsToldHowManyItGot) {
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), clip);
    const std::vector<std::string> settings = {"-x", "48", "-y", "32"};
    const RunResult full = RunTool(settings, clip);
    ASSERT_EQ(full.status, 0) << full.err;
    const long long header = static_cast<long long>(clip.find('\n')) + 1;
    const long long frame = 6 + 3 * kW * kH;
    const std::string fault = std::string("cannot write the output: ") + std::strerror(EFBIG) + "; ";
    const struct {
        long long limit;
        long long kept;
        std::string says;
    } cases[] = {
        {header + 2 * frame + 953, header + 2 * frame, "the output was cut back to the 2 whole frames written before the fault"},
        {header + 1, header, "the output was cut back to the stream header written before the fault (no whole frame)"},
        {header - 1, 0, "the output was cut back to empty"},
        {header + 2 * frame, header + 2 * frame, "2 whole frames were written before the fault"},  // nothing to cut
    };
    for (const auto& c : cases) {
        for (const char* threads : {"1", "3"}) {
            std::vector<std::string> args = {dir.Path("in.y4m"), dir.Path("out.y4m"), "--threads", threads};
            args.insert(args.end(), settings.begin(), settings.end());
            const RunResult r = RunToolWithOutputFault(args, {.fileSizeLimit = c.limit});
            const std::string label = "file size limit " + std::to_string(c.limit) + ", " + threads + " threads";
            EXPECT_EQ(r.status, 3) << label;
            ExpectOneLine(r, fault + c.says, label);
            const std::string written = ReadFile(dir.Path("out.y4m"));
            EXPECT_EQ(static_cast<long long>(written.size()), c.kept) << label;
            EXPECT_EQ(ByteMismatches(written, full.out.substr(0, static_cast<std::size_t>(c.kept))), 0) << label;
        }
    }

    // A pipe that is closed in the middle of frame 3 (raw frames larger than
    // the pipe's buffer) has taken all of frames 1 and 2 and part of 3.
    const FILTER* d = GetFilterTable();
    constexpr int w = 256, h = 256;
    constexpr long long rawFrame = w * h * 6;
    std::string raw;
    const lowpass::testing::TestSeed seed(900);
    for (int f = 0; f < 4; ++f) raw += Yc48Bytes(RandomPicture(w, h, seed + f, -1000, 5000));
    WriteFile(dir.Path("in.yc48"), raw);
    for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(std::string(threads) + " threads");
        const RunResult r = RunToolWithOutputFault({"--format", "yc48", "--size", "256x256", "-x", std::to_string(d->track_e[0]),
                                                    "-y", std::to_string(d->track_e[1]), "--threads", threads, dir.Path("in.yc48")},
                                                   {.pipeReadLimit = 2 * rawFrame + 1000});
        EXPECT_EQ(r.status, 3);
        ExpectOneLine(r, std::string("cannot write the output: ") + std::strerror(EPIPE) +
                             "; 2 whole frames were written before the fault, then ", "pipe");
        long long partBytes = -1;
        EXPECT_EQ(std::sscanf(r.err.c_str() + r.err.find(", then ") + 7, "%lld bytes of frame 3\n", &partBytes), 1) << r.err;
        EXPECT_GE(partBytes, 1000) << r.err;
        EXPECT_LT(partBytes, rawFrame) << r.err;
        EXPECT_NE(r.err.find(" bytes of frame 3\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, raw.substr(0, r.out.size()));
    }
}

TEST(Help, ListsTheOptionsWithTheDescriptorsRanges) {
    const FILTER* d = GetFilterTable();
    const RunResult r = RunTool({"--help"});
    EXPECT_EQ(r.status, 0);
    for (int slider = 0; slider < 3; ++slider) {
        const std::string range = std::to_string(d->track_s[slider]) + ".." + std::to_string(d->track_e[slider]) +
                                  ", default " + std::to_string(d->track_default[slider]);
        EXPECT_NE(r.out.find(range), std::string::npos) << range;
    }
    for (const char* option : {"-x N", "-y N", "--taps N", "--window W", "--simd on|off", "--engine E", "--format F",
                               "--size WxH", "--threads N", "--demo DIR", "y_host = floor((y8 - 16) * 4096 / 219 + 1/2)"})
        EXPECT_NE(r.out.find(option), std::string::npos) << option;
}

TEST(Progress, ShowsOnATerminalOnly) {
    const std::string clip = MakeClip("yuv444p");
    ASSERT_FALSE(clip.empty());
    ScratchDir dir;
    WriteFile(dir.Path("in.y4m"), clip);
    RunResult r;
    if (!RunToolOnTerminal({"-x", "48", "-y", "32"}, dir.Path("in.y4m"), dir.Path("out.y4m"), r))
        GTEST_SKIP() << "this system offers no pseudo-terminal";
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lowpass: 3 frames, "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" fps, done"), std::string::npos) << r.err;
    // The video itself is the same as without a terminal.
    const RunResult plain = RunTool({"-x", "48", "-y", "32"}, clip);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(ReadFile(dir.Path("out.y4m")), plain.out);

    // A fault after progress starts on a line of its own: one error line.
    WriteFile(dir.Path("cut.y4m"), clip.substr(0, clip.size() - 100));
    RunResult cut;
    ASSERT_TRUE(RunToolOnTerminal({"-x", "48", "-y", "32"}, dir.Path("cut.y4m"), dir.Path("out.y4m"), cut));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("lowpass: frame 3 (counted from 1) is truncated"), std::string::npos) << cut.err;
}

bool PngSize(const std::string& path, int& w, int& h) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    png_image_free(&image);
    return true;
}

TEST(Demo, WritesTheFourPicturesAndReportsTheAliasFigures) {
    ScratchDir dir;
    const std::string out = dir.Path("demo/nested");
    const RunResult r = RunTool({"--demo", out});
    ASSERT_EQ(r.status, 0) << r.err;
    const struct {
        const char* name;
        int w, h;
    } files[] = {{"zone-plate.png", 1280, 720},
                 {"decimated-unfiltered.png", 640, 360},
                 {"decimated-filtered.png", 640, 360},
                 {"frequency-response.png", 960, 600}};
    for (const auto& f : files) {
        int w = 0, h = 0;
        EXPECT_TRUE(PngSize(out + "/" + f.name, w, h)) << f.name;
        EXPECT_EQ(w, f.w) << f.name;
        EXPECT_EQ(h, f.h) << f.name;
        EXPECT_NE(r.out.find("wrote " + out + "/" + f.name), std::string::npos) << r.out;
    }
    EXPECT_NE(r.out.find("X=640 Y=360"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("times less"), std::string::npos) << r.out;

    const RunResult refused = RunTool({"--demo", out, "-x", "100"});
    EXPECT_EQ(refused.status, 2);
}

}  // namespace
