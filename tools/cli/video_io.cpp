#include "tools/cli/video_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "tools/cli/cli_error.h"
#include "tools/cli/sample_map.h"

namespace lowpass::cli {

namespace {

std::string FrameLabel(long long frameNumber) {
    return "frame " + std::to_string(frameNumber) + " (counted from 1)";
}

// A positive decimal number without sign or trailing characters.
bool ParseDimension(const std::string& text, int& value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && value > 0;
}

// "n:d" with both parts whole numbers (the frame-rate and pixel-shape tags).
bool IsRatio(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != colon && (text[i] < '0' || text[i] > '9')) return false;
    return true;
}

[[noreturn]] void BadHeader(const std::string& what) {
    throw CliError(kExitBadInput, "malformed YUV4MPEG2 header: " + what);
}

// A header or FRAME line may end in CR LF (a stream that went through a
// text-mode tool); the CR is not part of the last parameter.
std::string WithoutCarriageReturn(const std::string& line) {
    return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

}  // namespace

std::string Quote(const std::string& text, std::size_t maxLength) {
    std::string out = "'";
    for (std::size_t i = 0; i < text.size() && i < maxLength; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    if (text.size() > maxLength) out += "...";
    return out + "'";
}

ByteReader::LineStatus ByteReader::ReadLine(std::string& line, std::size_t maxLength) {
    line.clear();
    for (;;) {
        const int c = std::fgetc(file_);
        if (c == EOF) {
            if (std::ferror(file_)) throw CliError(kExitIo, std::string("cannot read the input: ") + std::strerror(errno));
            return line.empty() ? LineStatus::End : LineStatus::Truncated;
        }
        if (c == '\n') return LineStatus::Ok;
        if (line.size() >= maxLength) return LineStatus::TooLong;
        line += static_cast<char>(c);
    }
}

std::size_t ByteReader::ReadExact(std::uint8_t* data, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const std::size_t r = std::fread(data + got, 1, n - got, file_);
        if (r == 0) {
            if (std::ferror(file_)) throw CliError(kExitIo, std::string("cannot read the input: ") + std::strerror(errno));
            break;
        }
        got += r;
    }
    return got;
}

namespace {

constexpr char kMagic[] = "YUV4MPEG2";
constexpr std::size_t kMagicLength = sizeof kMagic - 1;

void CheckMagic(const std::string& line) {
    if (line.compare(0, kMagicLength, kMagic) != 0 || (line.size() > kMagicLength && line[kMagicLength] != ' '))
        throw CliError(kExitBadInput, "the input is not YUV4MPEG2: it starts with " + Quote(line, 16) +
                                          " instead of 'YUV4MPEG2' (for raw host frames use --format yc48)");
}

}  // namespace

Y4mHeader ParseY4mHeader(const std::string& lineAsRead) {
    const std::string line = WithoutCarriageReturn(lineAsRead);
    CheckMagic(line);
    Y4mHeader header;
    header.line = lineAsRead;
    std::string colour;  // without the tag letter; absent means 4:2:0
    bool haveColour = false;
    std::size_t pos = kMagicLength;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            ++pos;
            continue;
        }
        const std::size_t end = std::min(line.find(' ', pos), line.size());
        const std::string token = line.substr(pos, end - pos);
        pos = end;
        const std::string value = token.substr(1);
        switch (token[0]) {
            case 'W':
                if (!ParseDimension(value, header.width)) BadHeader("width " + Quote(token) + " is not a positive number");
                break;
            case 'H':
                if (!ParseDimension(value, header.height)) BadHeader("height " + Quote(token) + " is not a positive number");
                break;
            case 'F':
            case 'A':
                if (!IsRatio(value)) BadHeader("parameter " + Quote(token) + " is not a ratio n:d");
                break;
            case 'C':
                colour = value;
                haveColour = true;
                break;
            default:  // interlacing, extensions and tags unknown to this reader are kept as they are
                break;
        }
    }
    if (header.width == 0) BadHeader("no width (W) parameter");
    if (header.height == 0) BadHeader("no height (H) parameter");
    if (header.width > kMaxDimension || header.height > kMaxDimension ||
        static_cast<long long>(header.width) * header.height > kMaxPixels)
        throw CliError(kExitBadInput, "frame size " + std::to_string(header.width) + "x" + std::to_string(header.height) +
                                          " is larger than this tool accepts (8192x4608 pixels, sides up to 16384)");
    if (haveColour && colour == "444") {
        header.mono = false;
    } else if (haveColour && colour == "mono") {
        header.mono = true;
    } else {
        const std::string name = haveColour ? Quote("C" + colour) : "(no C parameter, which means 4:2:0)";
        throw CliError(kExitBadInput, "unsupported YUV4MPEG2 colour space " + name +
                                          ": lowpass reads 8-bit C444 or Cmono; convert with ffmpeg -pix_fmt yuv444p "
                                          "(or -pix_fmt gray)");
    }
    return header;
}

void CheckFrameHeader(const std::string& lineAsRead, long long frameNumber) {
    const std::string line = WithoutCarriageReturn(lineAsRead);
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' '))
        throw CliError(kExitBadInput, FrameLabel(frameNumber) + ": expected a FRAME header, found " + Quote(line));
}

std::size_t Y4mFrameBytes(const Y4mHeader& header) {
    const std::size_t plane = static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);
    return header.mono ? plane : 3 * plane;
}

std::size_t Yc48FrameBytes(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * sizeof(PIXEL_YC);
}

std::size_t FrameLayout::Bytes() const {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (format == VideoFormat::Yc48) return pixels * sizeof(PIXEL_YC);
    return mono ? pixels : 3 * pixels;
}

namespace {

void DecodeY4mRows(const std::uint8_t* data, std::size_t plane, int w, bool mono, PIXEL_YC* pixels,
                   std::ptrdiff_t stride, int first, int end) {
    for (int y = first; y < end; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        const std::uint8_t* luma = data + row;
        PIXEL_YC* out = pixels + y * stride;
        if (mono) {
            // Greyscale carries no colour: neutral chroma.
            for (int x = 0; x < w; ++x) out[x] = PIXEL_YC{kSampleTables.luma[luma[x]], 0, 0};
        } else {
            const std::uint8_t* cb = luma + plane;
            const std::uint8_t* cr = cb + plane;
            for (int x = 0; x < w; ++x)
                out[x] = PIXEL_YC{kSampleTables.luma[luma[x]], kSampleTables.chroma[cb[x]], kSampleTables.chroma[cr[x]]};
        }
    }
}

void EncodeY4mRows(const PIXEL_YC* pixels, std::ptrdiff_t stride, std::size_t plane, int w, bool mono,
                   std::uint8_t* data, int first, int end) {
    for (int y = first; y < end; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        const PIXEL_YC* in = pixels + y * stride;
        std::uint8_t* luma = data + row;
        for (int x = 0; x < w; ++x) luma[x] = LumaTo8(in[x].y);
        if (!mono) {
            std::uint8_t* cb = luma + plane;
            std::uint8_t* cr = cb + plane;
            for (int x = 0; x < w; ++x) {
                cb[x] = ChromaTo8(in[x].cb);
                cr[x] = ChromaTo8(in[x].cr);
            }
        }
    }
}

std::int16_t Sample16(const std::uint8_t* b) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
}

void Put16(std::uint8_t* b, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    b[0] = static_cast<std::uint8_t>(u & 0xff);
    b[1] = static_cast<std::uint8_t>(u >> 8);
}

void DecodeYc48Rows(const std::uint8_t* data, int w, PIXEL_YC* pixels, std::ptrdiff_t stride, int first, int end) {
    for (int y = first; y < end; ++y) {
        const std::uint8_t* b = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 6;
        PIXEL_YC* out = pixels + y * stride;
        for (int x = 0; x < w; ++x, b += 6) out[x] = PIXEL_YC{Sample16(b), Sample16(b + 2), Sample16(b + 4)};
    }
}

void EncodeYc48Rows(const PIXEL_YC* pixels, std::ptrdiff_t stride, int w, std::uint8_t* data, int first, int end) {
    for (int y = first; y < end; ++y) {
        std::uint8_t* b = data + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 6;
        const PIXEL_YC* in = pixels + y * stride;
        for (int x = 0; x < w; ++x, b += 6) {
            Put16(b, in[x].y);
            Put16(b + 2, in[x].cb);
            Put16(b + 4, in[x].cr);
        }
    }
}

std::size_t PlaneBytes(const FrameLayout& layout) {
    return static_cast<std::size_t>(layout.width) * static_cast<std::size_t>(layout.height);
}

}  // namespace

void DecodeRows(const FrameLayout& layout, const std::uint8_t* data, PIXEL_YC* pixels, std::ptrdiff_t stride,
                int first, int end) {
    if (layout.format == VideoFormat::Y4m)
        DecodeY4mRows(data, PlaneBytes(layout), layout.width, layout.mono, pixels, stride, first, end);
    else
        DecodeYc48Rows(data, layout.width, pixels, stride, first, end);
}

void EncodeRows(const FrameLayout& layout, const PIXEL_YC* pixels, std::ptrdiff_t stride, std::uint8_t* data,
                int first, int end) {
    if (layout.format == VideoFormat::Y4m)
        EncodeY4mRows(pixels, stride, PlaneBytes(layout), layout.width, layout.mono, data, first, end);
    else
        EncodeYc48Rows(pixels, stride, layout.width, data, first, end);
}

void DecodeY4mFrame(const std::uint8_t* data, bool mono, Picture& picture) {
    const FrameLayout layout{VideoFormat::Y4m, picture.width, picture.height, mono};
    DecodeRows(layout, data, picture.pixels.data(), picture.width, 0, picture.height);
}

void EncodeY4mFrame(const Picture& picture, bool mono, std::uint8_t* data) {
    const FrameLayout layout{VideoFormat::Y4m, picture.width, picture.height, mono};
    EncodeRows(layout, picture.pixels.data(), picture.width, data, 0, picture.height);
}

void DecodeYc48Frame(const std::uint8_t* data, Picture& picture) {
    const FrameLayout layout{VideoFormat::Yc48, picture.width, picture.height, false};
    DecodeRows(layout, data, picture.pixels.data(), picture.width, 0, picture.height);
}

void EncodeYc48Frame(const Picture& picture, std::uint8_t* data) {
    const FrameLayout layout{VideoFormat::Yc48, picture.width, picture.height, false};
    EncodeRows(layout, picture.pixels.data(), picture.width, data, 0, picture.height);
}

VideoReader::VideoReader(std::FILE* file, VideoFormat format, int width, int height)
    : input_(file), format_(format), width_(width), height_(height) {
    if (format_ == VideoFormat::Y4m) {
        std::string line;
        switch (input_.ReadLine(line, kMaxHeaderLength)) {
            case ByteReader::LineStatus::Ok: break;
            case ByteReader::LineStatus::End:
                throw CliError(kExitBadInput, "the input is empty: no YUV4MPEG2 header");
            case ByteReader::LineStatus::Truncated:
                // A stream that is not Y4M at all says so first.
                CheckMagic(line);
                throw CliError(kExitBadInput, "malformed YUV4MPEG2 header: the input ends inside it");
            case ByteReader::LineStatus::TooLong:
                CheckMagic(line);
                throw CliError(kExitBadInput, "malformed YUV4MPEG2 header: no end of line within " +
                                                  std::to_string(kMaxHeaderLength) + " bytes");
        }
        header_ = ParseY4mHeader(line);
        width_ = header_.width;
        height_ = header_.height;
        frame_.data.reserve(Y4mFrameBytes(header_));
    } else {
        frame_.data.reserve(Yc48FrameBytes(width_, height_));
    }
}

bool VideoReader::ReadFrame(Picture& picture) {
    if (!ReadFrameBytes(frame_)) return false;
    if (picture.width != width_ || picture.height != height_) picture = Picture(width_, height_);
    DecodeRows(layout(), frame_.data.data(), picture.pixels.data(), width_, 0, height_);
    return true;
}

bool VideoReader::ReadFrameBytes(FrameBytes& frame) {
    const long long number = framesRead_ + 1;
    if (format_ == VideoFormat::Y4m) {
        switch (input_.ReadLine(frame.line, kMaxHeaderLength)) {
            case ByteReader::LineStatus::Ok: break;
            case ByteReader::LineStatus::End: return false;
            case ByteReader::LineStatus::Truncated:
                throw CliError(kExitBadInput, FrameLabel(number) + " is truncated: the input ends inside its FRAME header " +
                                                  Quote(frame.line));
            case ByteReader::LineStatus::TooLong:
                CheckFrameHeader(frame.line, number);
                throw CliError(kExitBadInput, FrameLabel(number) + ": FRAME header without end of line within " +
                                                  std::to_string(kMaxHeaderLength) + " bytes");
        }
        CheckFrameHeader(frame.line, number);
    }
    const std::size_t bytes = layout().Bytes();
    frame.data.resize(bytes);
    const std::size_t got = input_.ReadExact(frame.data.data(), bytes);
    if (got == 0 && format_ == VideoFormat::Yc48) return false;
    if (got < bytes) {
        std::string message = FrameLabel(number) + " is truncated: the input ends after " + std::to_string(got) + " of its " +
                              std::to_string(bytes) + " bytes";
        if (format_ == VideoFormat::Yc48)
            message += " (the input is not a whole number of " + std::to_string(width_) + "x" + std::to_string(height_) +
                       " frames; is --size right?)";
        throw CliError(kExitBadInput, message);
    }
    framesRead_ = number;
    return true;
}

VideoWriter::VideoWriter(int fd, const VideoReader& source) : fd_(fd), format_(source.format()) {
    if (format_ == VideoFormat::Y4m) {
        mono_ = source.y4mHeader().mono;
        const std::string header = source.y4mHeader().line + "\n";
        WritePiece(reinterpret_cast<const std::uint8_t*>(header.data()), header.size());
        headerWritten_ = true;
    }
}

void VideoWriter::WriteFrame(const Picture& picture, const std::string& frameHeaderLine) {
    const FrameLayout layout{format_, picture.width, picture.height, mono_};
    std::uint8_t* data = PrepareFrame(frame_, frameHeaderLine, layout.Bytes());
    EncodeRows(layout, picture.pixels.data(), picture.width, data, 0, picture.height);
    WritePrepared(frame_);
}

std::uint8_t* VideoWriter::PrepareFrame(FrameBytes& frame, const std::string& frameHeaderLine,
                                        std::size_t pictureBytes) const {
    const std::size_t lineBytes = format_ == VideoFormat::Y4m ? frameHeaderLine.size() + 1 : 0;
    frame.data.resize(lineBytes + pictureBytes);
    if (lineBytes > 0) {
        std::memcpy(frame.data.data(), frameHeaderLine.data(), frameHeaderLine.size());
        frame.data[lineBytes - 1] = '\n';
    }
    return frame.data.data() + lineBytes;
}

void VideoWriter::WritePrepared(const FrameBytes& frame) {
    WritePiece(frame.data.data(), frame.data.size());
    ++frames_;
}

void VideoWriter::WritePiece(const std::uint8_t* data, std::size_t n) {
    partial_ = 0;
    while (partial_ < n) {
        const ssize_t r = write(fd_, data + partial_, n - partial_);
        if (r > 0) {
            partial_ += static_cast<std::size_t>(r);
        } else if (r < 0 && errno == EINTR) {
            continue;
        } else {
            Fail(r < 0 ? errno : EIO);
        }
    }
    partial_ = 0;
}

std::string VideoWriter::WholePart() const {
    if (frames_ > 0) return std::to_string(frames_) + (frames_ == 1 ? " whole frame" : " whole frames");
    if (headerWritten_) return "the stream header (no whole frame)";
    return format_ == VideoFormat::Y4m ? "nothing" : "no whole frame";
}

std::string VideoWriter::PieceName() const {
    return headerWritten_ || format_ != VideoFormat::Y4m ? "frame " + std::to_string(frames_ + 1) : "the stream header";
}

void VideoWriter::Fail(int error) {
    std::string message = std::string("cannot write the output: ") + std::strerror(error) + "; ";
    const std::string whole = WholePart();
    const std::string wholeWritten = whole + (frames_ > 1 ? " were" : " was") + " written before the fault";
    if (partial_ == 0) throw CliError(kExitIo, message + wholeWritten);

    // Part of a frame reached the output: a regular file is cut back to the
    // end of the last whole one. The offset after the bytes written, less
    // those bytes, is where it ended, whatever the file held before the
    // tool started (output appended to a file, for example).
    struct stat info {};
    std::string cutFault;
    if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode)) {
        const off_t end = lseek(fd_, 0, SEEK_CUR);
        const off_t cut = end - static_cast<off_t>(partial_);
        if (end >= 0 && cut >= 0 && ftruncate(fd_, cut) == 0) {
            lseek(fd_, cut, SEEK_SET);  // whoever writes to this file next continues there
            const std::string kept = frames_ > 0       ? "the " + whole + " written before the fault"
                                     : headerWritten_ ? "the stream header written before the fault (no whole frame)"
                                                      : "empty";
            throw CliError(kExitIo, message + "the output was cut back to " + kept);
        }
        cutFault = std::string(" that could not be cut off (") + std::strerror(end < 0 || cut < 0 ? ESPIPE : errno) + ")";
    }
    throw CliError(kExitIo, message + wholeWritten + ", then " + std::to_string(partial_) + " bytes of " + PieceName() +
                                cutFault);
}

}  // namespace lowpass::cli
