// The tool's pieces in process: the 8-bit sample map, YUV4MPEG2 and raw
// host-frame reading and writing, and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>
#include <memory>
#include <string>

#include "tools/cli/cli_error.h"
#include "tools/cli/options.h"
#include "tools/cli/sample_map.h"
#include "tools/cli/video_io.h"

using namespace lowpass::cli;

namespace {

// The map written out in real numbers, independently of the integer code.
int RefLumaIn(int v) { return static_cast<int>(std::floor((v - 16) * 4096.0 / 219.0 + 0.5)); }
int RefChromaIn(int v) { return static_cast<int>(std::floor((v - 128) * 4096.0 / 224.0 + 0.5)); }
int Clip(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
int RefLumaOut(int s) { return Clip(16 + static_cast<int>(std::floor(s * 219.0 / 4096.0 + 0.5))); }
int RefChromaOut(int s) { return Clip(128 + static_cast<int>(std::floor(s * 224.0 / 4096.0 + 0.5))); }

TEST(SampleMap, MatchesTheRealNumberFormulasForEveryValue) {
    for (int v = 0; v < 256; ++v) {
        ASSERT_EQ(LumaFrom8(v), RefLumaIn(v)) << v;
        ASSERT_EQ(ChromaFrom8(v), RefChromaIn(v)) << v;
    }
    for (int s = -32768; s <= 32767; ++s) {
        ASSERT_EQ(LumaTo8(s), RefLumaOut(s)) << s;
        ASSERT_EQ(ChromaTo8(s), RefChromaOut(s)) << s;
    }
}

TEST(SampleMap, NominalRangesMeetAndEvery8BitValueSurvivesTheRoundTrip) {
    EXPECT_EQ(LumaFrom8(16), 0);
    EXPECT_EQ(LumaFrom8(235), 4096);
    EXPECT_EQ(ChromaFrom8(16), -2048);
    EXPECT_EQ(ChromaFrom8(128), 0);
    EXPECT_EQ(ChromaFrom8(240), 2048);
    EXPECT_EQ(LumaTo8(0), 16);
    EXPECT_EQ(LumaTo8(4096), 235);
    EXPECT_EQ(ChromaTo8(-2048), 16);
    EXPECT_EQ(ChromaTo8(2048), 240);
    // Below black and above white are kept as far as 8 bits reach.
    EXPECT_EQ(LumaFrom8(0), -299);
    EXPECT_EQ(LumaTo8(-32768), 0);
    EXPECT_EQ(LumaTo8(32767), 255);
    EXPECT_EQ(ChromaTo8(-32768), 0);
    EXPECT_EQ(ChromaTo8(32767), 255);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(LumaTo8(LumaFrom8(v)), v);
        EXPECT_EQ(ChromaTo8(ChromaFrom8(v)), v);
    }
    // Halves round up: 4096/219 * 0.5 lies between host 9 and 10.
    EXPECT_EQ(LumaTo8(9), 16);
    EXPECT_EQ(LumaTo8(10), 17);
    EXPECT_EQ(LumaTo8(-9), 16);
    EXPECT_EQ(LumaTo8(-10), 15);
}

std::string ErrorOf(const std::function<void()>& f, int* status = nullptr) {
    try {
        f();
    } catch (const CliError& e) {
        if (status != nullptr) *status = e.status();
        return e.what();
    }
    return "(no error)";
}

TEST(Y4mHeader, ReadsWhatFfmpegWrites) {
    const Y4mHeader h = ParseY4mHeader("YUV4MPEG2 W96 H64 F5:1 Ip A1:1 C444 XYSCSS=444");
    EXPECT_EQ(h.width, 96);
    EXPECT_EQ(h.height, 64);
    EXPECT_FALSE(h.mono);
    EXPECT_EQ(h.line, "YUV4MPEG2 W96 H64 F5:1 Ip A1:1 C444 XYSCSS=444");
    const Y4mHeader m = ParseY4mHeader("YUV4MPEG2 W7 H3 F25:1 Ip A0:0 Cmono XYSCSS=GRAY");
    EXPECT_TRUE(m.mono);
    EXPECT_EQ(Y4mFrameBytes(m), 21u);
    EXPECT_EQ(Y4mFrameBytes(h), 96u * 64u * 3u);
}

TEST(Y4mHeader, RefusesOtherColourSpacesSayingHowToConvert) {
    for (const char* line : {"YUV4MPEG2 W8 H8 C420jpeg", "YUV4MPEG2 W8 H8", "YUV4MPEG2 W8 H8 C422",
                             "YUV4MPEG2 W8 H8 C444p10", "YUV4MPEG2 W8 H8 C444alpha"}) {
        int status = 0;
        const std::string message = ErrorOf([&] { ParseY4mHeader(line); }, &status);
        EXPECT_NE(message.find("-pix_fmt yuv444p"), std::string::npos) << line << ": " << message;
        EXPECT_EQ(status, kExitBadInput);
    }
}

TEST(Y4mHeader, AColourTagIsQuotedPrintableAndShortAndCrLfIsAccepted) {
    struct Case {
        std::string line;
        const char* quoted;
    } cases[] = {
        {"YUV4MPEG2 W8 H8 C4\x1b[2J44", "'C4?[2J44'"},
        {"YUV4MPEG2 W8 H8 C444\r\r", "'C444?'"},  // one CR ends the line, the other is in the tag
        {"YUV4MPEG2 W8 H8 C444\x7f F25:1", "'C444?'"},
        {"YUV4MPEG2 W8 H8 C" + std::string(4000, 'z'), "'Czzzzzzzzzzzzzzzzzzzzzzz...'"},
    };
    for (const Case& c : cases) {
        int status = 0;
        const std::string message = ErrorOf([&] { ParseY4mHeader(c.line); }, &status);
        EXPECT_EQ(status, kExitBadInput);
        EXPECT_NE(message.find("colour space " + std::string(c.quoted) + ": "), std::string::npos) << message;
        EXPECT_LT(message.size(), 200u) << message;
        for (char ch : message) EXPECT_TRUE(ch >= 0x20 && ch < 0x7f) << static_cast<int>(ch) << " in " << message;
    }
    // A line ending in CR LF: the CR ends the last parameter, and is kept for the output.
    const Y4mHeader h = ParseY4mHeader("YUV4MPEG2 W8 H2 Cmono\r");
    EXPECT_TRUE(h.mono);
    EXPECT_EQ(h.height, 2);
    EXPECT_EQ(h.line, "YUV4MPEG2 W8 H2 Cmono\r");
    EXPECT_EQ(ParseY4mHeader("YUV4MPEG2 C444 W8 H7\r").height, 7);
    EXPECT_EQ(ErrorOf([] { CheckFrameHeader("FRAME\r", 1); }), "(no error)");
    EXPECT_EQ(ErrorOf([] { CheckFrameHeader("FRAME Ib\r", 1); }), "(no error)");
    EXPECT_NE(ErrorOf([] { CheckFrameHeader("FRAME\r\r", 1); }).find("expected a FRAME header"), std::string::npos);
}

TEST(Y4mHeader, RefusesMalformedHeaders) {
    struct Case {
        const char* line;
        const char* says;
    } cases[] = {
        {"YUV4MPEG W8 H8 C444", "not YUV4MPEG2"},
        {"YUV4MPEG2W8 H8 C444", "not YUV4MPEG2"},
        {"\x89PNG\r", "not YUV4MPEG2"},
        {"YUV4MPEG2 H8 C444", "no width"},
        {"YUV4MPEG2 W8 C444", "no height"},
        {"YUV4MPEG2 W0 H8 C444", "width 'W0'"},
        {"YUV4MPEG2 W-8 H8 C444", "width"},
        {"YUV4MPEG2 W8x H8 C444", "width"},
        {"YUV4MPEG2 W8 H99999999999 C444", "height"},
        {"YUV4MPEG2 W16385 H8 C444", "larger than"},
        {"YUV4MPEG2 W10000 H10000 C444", "larger than"},
        {"YUV4MPEG2 W8 H8 F25 C444", "ratio"},
        {"YUV4MPEG2 W8 H8 A:1 C444", "ratio"},
    };
    for (const Case& c : cases) {
        int status = 0;
        const std::string message = ErrorOf([&] { ParseY4mHeader(c.line); }, &status);
        EXPECT_NE(message.find(c.says), std::string::npos) << c.line << ": " << message;
        EXPECT_EQ(status, kExitBadInput) << c.line;
        EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
    }
}

TEST(Y4mFrameHeader, AcceptsParametersAndRefusesAnythingElse) {
    EXPECT_EQ(ErrorOf([] { CheckFrameHeader("FRAME", 1); }), "(no error)");
    EXPECT_EQ(ErrorOf([] { CheckFrameHeader("FRAME Ib XFOO=1", 1); }), "(no error)");
    EXPECT_NE(ErrorOf([] { CheckFrameHeader("FRAMES", 4); }).find("frame 4 (counted from 1)"), std::string::npos);
    EXPECT_NE(ErrorOf([] { CheckFrameHeader("frame", 2); }).find("expected a FRAME header"), std::string::npos);
    EXPECT_NE(ErrorOf([] { CheckFrameHeader("", 2); }).find("frame 2"), std::string::npos);
}

// A stream in memory, read through the same FILE* interface as a file.
struct MemoryFile {
    std::string bytes;
    std::FILE* file;
    explicit MemoryFile(std::string b) : bytes(std::move(b)) {
        file = bytes.empty() ? std::fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
    }
    ~MemoryFile() { std::fclose(file); }
};

std::string Y4mFrame444(int w, int h, int seed, const std::string& frameLine = "FRAME") {
    std::string data = frameLine + "\n";
    for (int i = 0; i < 3 * w * h; ++i) data += static_cast<char>((i * 37 + seed * 11) & 0xff);
    return data;
}

TEST(VideoReader, DecodesPlanesIntoHostPixels) {
    // 2 x 1, C444: planes Y, Cb, Cr.
    const std::string stream = std::string("YUV4MPEG2 W2 H1 C444\nFRAME\n") + "\x10\xeb" + "\x10\xf0" + "\x80\x81";
    MemoryFile f(stream);
    VideoReader reader(f.file, VideoFormat::Y4m);
    Picture p;
    ASSERT_TRUE(reader.ReadFrame(p));
    ASSERT_EQ(p.width, 2);
    EXPECT_EQ(p.at(0, 0).y, 0);
    EXPECT_EQ(p.at(1, 0).y, 4096);
    EXPECT_EQ(p.at(0, 0).cb, -2048);
    EXPECT_EQ(p.at(1, 0).cb, 2048);
    EXPECT_EQ(p.at(0, 0).cr, 0);
    EXPECT_EQ(p.at(1, 0).cr, ChromaFrom8(0x81));
    EXPECT_FALSE(reader.ReadFrame(p));
    EXPECT_EQ(reader.framesRead(), 1);
}

TEST(VideoReader, MonoHasNeutralChromaAndWritesLumaOnly) {
    const std::string stream = std::string("YUV4MPEG2 W3 H1 Cmono\nFRAME\n") + "\x10\x80\xeb";
    MemoryFile f(stream);
    VideoReader reader(f.file, VideoFormat::Y4m);
    Picture p;
    ASSERT_TRUE(reader.ReadFrame(p));
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(p.at(x, 0).cb, 0);
        EXPECT_EQ(p.at(x, 0).cr, 0);
    }
    p.at(1, 0).cb = 500;  // whatever the filter left in chroma is dropped
    std::uint8_t out[3] = {};
    EncodeY4mFrame(p, true, out);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 3), "\x10\x80\xeb");
}

TEST(VideoReader, ReportsTruncationWithTheFrameNumberAfterWholeFrames) {
    std::string stream = "YUV4MPEG2 W4 H2 C444\n" + Y4mFrame444(4, 2, 1) + Y4mFrame444(4, 2, 2);
    stream += Y4mFrame444(4, 2, 3).substr(0, 6 + 10);  // FRAME line and 10 of 24 bytes
    MemoryFile f(stream);
    VideoReader reader(f.file, VideoFormat::Y4m);
    Picture p;
    ASSERT_TRUE(reader.ReadFrame(p));
    ASSERT_TRUE(reader.ReadFrame(p));
    const std::string message = ErrorOf([&] { reader.ReadFrame(p); });
    EXPECT_NE(message.find("frame 3 (counted from 1) is truncated"), std::string::npos) << message;
    EXPECT_NE(message.find("after 10 of its 24 bytes"), std::string::npos) << message;
}

TEST(VideoReader, ReportsFaultsInFrameHeaders) {
    {
        MemoryFile f("YUV4MPEG2 W4 H2 C444\n" + Y4mFrame444(4, 2, 1) + "FRA");
        VideoReader reader(f.file, VideoFormat::Y4m);
        Picture p;
        ASSERT_TRUE(reader.ReadFrame(p));
        EXPECT_NE(ErrorOf([&] { reader.ReadFrame(p); }).find("frame 2 (counted from 1) is truncated"), std::string::npos);
    }
    {
        MemoryFile f("YUV4MPEG2 W4 H2 C444\n" + Y4mFrame444(4, 2, 1) + Y4mFrame444(4, 2, 2, "FRAMX"));
        VideoReader reader(f.file, VideoFormat::Y4m);
        Picture p;
        ASSERT_TRUE(reader.ReadFrame(p));
        EXPECT_NE(ErrorOf([&] { reader.ReadFrame(p); }).find("frame 2 (counted from 1): expected a FRAME header, found 'FRAMX'"),
                  std::string::npos);
    }
    {
        // A frame line that never ends is refused without reading it all.
        MemoryFile f("YUV4MPEG2 W4 H2 C444\nFRAME " + std::string(100000, 'x'));
        VideoReader reader(f.file, VideoFormat::Y4m);
        Picture p;
        EXPECT_NE(ErrorOf([&] { reader.ReadFrame(p); }).find("without end of line"), std::string::npos);
    }
    {
        MemoryFile f("YUV4MPEG2 W4 H2 C444\n" + Y4mFrame444(4, 2, 1, "FRAME Ib XA=1"));
        VideoReader reader(f.file, VideoFormat::Y4m);
        Picture p;
        ASSERT_TRUE(reader.ReadFrame(p));
        EXPECT_EQ(reader.frameHeaderLine(), "FRAME Ib XA=1");
    }
}

TEST(VideoReader, ReportsFaultsInTheStreamHeader) {
    auto open = [](const std::string& bytes) {
        MemoryFile f(bytes);
        return ErrorOf([&] { VideoReader reader(f.file, VideoFormat::Y4m); });
    };
    EXPECT_NE(open("").find("empty"), std::string::npos);
    EXPECT_NE(open("YUV4MPEG2 W4 H2 C444").find("ends inside it"), std::string::npos);
    EXPECT_NE(open("YUV4MPEG2 " + std::string(5000, 'X')).find("no end of line"), std::string::npos);
    EXPECT_NE(open(std::string(5000, '\0')).find("not YUV4MPEG2"), std::string::npos);
    EXPECT_NE(open("GIF89a\n").find("not YUV4MPEG2"), std::string::npos);
}

TEST(Yc48, SamplesAreLittleEndianInt16InTheOrderYCbCr) {
    Picture p(2, 1);
    p.at(0, 0) = PIXEL_YC{-2, 0x1234, -32768};
    p.at(1, 0) = PIXEL_YC{32767, 1, -1};
    std::uint8_t bytes[12] = {};
    EncodeYc48Frame(p, bytes);
    const std::uint8_t expected[12] = {0xfe, 0xff, 0x34, 0x12, 0x00, 0x80, 0xff, 0x7f, 0x01, 0x00, 0xff, 0xff};
    EXPECT_EQ(std::memcmp(bytes, expected, 12), 0);
    Picture back(2, 1);
    DecodeYc48Frame(bytes, back);
    EXPECT_EQ(back.at(0, 0).y, -2);
    EXPECT_EQ(back.at(0, 0).cb, 0x1234);
    EXPECT_EQ(back.at(0, 0).cr, -32768);
    EXPECT_EQ(back.at(1, 0).y, 32767);
    EXPECT_EQ(back.at(1, 0).cr, -1);
}

TEST(Yc48, AnInputThatIsNotWholeFramesNamesTheFrame) {
    MemoryFile f(std::string(2 * 3 * 2 * 6 + 7, '\x01'));  // two 3x2 frames and 7 bytes
    VideoReader reader(f.file, VideoFormat::Yc48, 3, 2);
    Picture p;
    ASSERT_TRUE(reader.ReadFrame(p));
    ASSERT_TRUE(reader.ReadFrame(p));
    EXPECT_EQ(p.at(2, 1).y, 0x0101);
    const std::string message = ErrorOf([&] { reader.ReadFrame(p); });
    EXPECT_NE(message.find("frame 3 (counted from 1) is truncated: the input ends after 7 of its 36 bytes"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("3x2"), std::string::npos);
}

// A descriptor with ranges and defaults unlike the plug-in's: the options
// must follow whatever the descriptor says.
struct FakeDescriptor {
    int defaults[3] = {100, 90, 5};
    int lows[3] = {40, 50, 2};
    int highs[3] = {400, 300, 9};
    int checks[5] = {0, 0, 1, 0, 0};
    FILTER filter{};
    FakeDescriptor() {
        filter.track_n = 3;
        filter.track_default = defaults;
        filter.track_s = lows;
        filter.track_e = highs;
        filter.check_n = 5;
        filter.check_default = checks;
    }
};

TEST(Options, DefaultsAndRangesComeFromTheDescriptor) {
    FakeDescriptor d;
    const FilterSettings s = ResolveSettings(ParseOptions({}), d.filter);
    EXPECT_EQ(s.track[0], 100);
    EXPECT_EQ(s.track[1], 90);
    EXPECT_EQ(s.track[2], 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(s.check[i], d.checks[i]) << i;

    int status = 0;
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"-x", "39"}), d.filter); }, &status)
                  .find("-x 39 is out of range 40..400"),
              std::string::npos);
    EXPECT_EQ(status, kExitUsage);
    EXPECT_EQ(ResolveSettings(ParseOptions({"-x", "40"}), d.filter).track[0], 40);
    EXPECT_EQ(ResolveSettings(ParseOptions({"-x400"}), d.filter).track[0], 400);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"-x", "401"}), d.filter); }).find("out of range"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"-y", "49"}), d.filter); }).find("-y 49"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"-y", "301"}), d.filter); }).find("50..300"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"--taps", "1"}), d.filter); }).find("--taps 1"),
              std::string::npos);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({"--taps=10"}), d.filter); }).find("2..9"),
              std::string::npos);
    EXPECT_EQ(ResolveSettings(ParseOptions({"--taps=9"}), d.filter).track[2], 9);
    // The demo's target size replaces the default X and Y, and is checked too.
    const FilterSettings demo = ResolveSettings(ParseOptions({"--demo", "d"}), d.filter, 320, 180);
    EXPECT_EQ(demo.track[0], 320);
    EXPECT_EQ(demo.track[1], 180);
    EXPECT_NE(ErrorOf([&] { ResolveSettings(ParseOptions({}), d.filter, 640, 180); }).find("-x 640"),
              std::string::npos);
}

TEST(Options, WindowAndSimdSetTheCheckBoxes) {
    FakeDescriptor d;
    const struct {
        const char* name;
        int index;
    } windows[] = {{"rect", 1}, {"rectangular", 1}, {"hanning", 2}, {"hamming", 3}, {"blackman", 4}};
    for (const auto& w : windows) {
        const FilterSettings s = ResolveSettings(ParseOptions({"--window", w.name}), d.filter);
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(s.check[i], i == w.index ? 1 : 0) << w.name << " box " << i;
        EXPECT_EQ(s.check[0], 0);  // SIMD left at the descriptor's default
    }
    EXPECT_EQ(ResolveSettings(ParseOptions({"--simd", "on"}), d.filter).check[0], 1);
    d.checks[0] = 1;
    EXPECT_EQ(ResolveSettings(ParseOptions({"--simd=off"}), d.filter).check[0], 0);
    EXPECT_EQ(ResolveSettings(ParseOptions({}), d.filter).check[0], 1);
}

TEST(Options, FilesFormatsAndEngines) {
    const CliOptions a = ParseOptions({"in.y4m", "out.y4m", "--engine", "mmx"});
    EXPECT_EQ(a.input, "in.y4m");
    EXPECT_EQ(a.output, "out.y4m");
    EXPECT_EQ(a.engine, lowpass::FindEngine("mmx"));
    // The portable engine by its name, and by its older one in scripts.
    EXPECT_EQ(ParseOptions({"--engine", "portable"}).engine, &lowpass::PortableEngine());
    EXPECT_EQ(ParseOptions({"--engine", "scalar"}).engine, &lowpass::PortableEngine());
    const CliOptions b = ParseOptions({"--format", "yc48", "--size", "720x480", "-"});
    EXPECT_EQ(b.format, VideoFormat::Yc48);
    EXPECT_EQ(b.width, 720);
    EXPECT_EQ(b.height, 480);
    EXPECT_EQ(b.input, "-");
    EXPECT_EQ(b.output, "-");
    EXPECT_TRUE(ParseOptions({"--help"}).help);
    EXPECT_EQ(*ParseOptions({"--demo", "out"}).demoDir, "out");
}

TEST(Options, RefusesWhatItCannotUse) {
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"-x", "abc"}, "-x needs a whole number, got 'abc'"},
        {{"-x", "12abc"}, "whole number"},
        {{"-x", ""}, "whole number"},
        {{"-y", "1.5"}, "whole number"},
        {{"--taps", "99999999999"}, "whole number"},
        {{"-x"}, "-x needs a value"},
        {{"--window", "kaiser"}, "--window must be"},
        {{"--simd", "yes"}, "on or off"},
        {{"--engine", "avx"}, "--engine must be"},
        {{"--format", "png"}, "--format must be"},
        {{"--size", "720"}, "WxH"},
        {{"--size", "0x480"}, "frame size"},
        {{"--size", "99999x2"}, "frame size"},
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-q"}, "unknown option"},
        {{"--format", "yc48"}, "needs --size"},
        {{"--size", "8x8"}, "yc48 only"},
        {{"a", "b", "c"}, "too many"},
        {{"--demo", "d", "in.y4m"}, "no input"},
        {{"--demo", "d", "-x", "100"}, "leave out -x"},
        {{"--demo", "d", "--format", "yc48"}, "--demo takes no --format"},
        {{"--demo="}, "needs a folder"},
    };
    for (const auto& c : cases) {
        int status = 0;
        const std::string message = ErrorOf([&] { ParseOptions(c.args); }, &status);
        EXPECT_NE(message.find(c.says), std::string::npos) << c.args[0] << ": " << message;
        EXPECT_EQ(status, kExitUsage) << c.args[0];
        EXPECT_EQ(message.find('\n'), std::string::npos);
    }
}

}  // namespace
