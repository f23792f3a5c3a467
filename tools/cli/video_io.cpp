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

void DecodeY4mFrame(const std::uint8_t* data, bool mono, Picture& picture) {
    const std::size_t n = picture.pixels.size();
    for (std::size_t i = 0; i < n; ++i) {
        PIXEL_YC& p = picture.pixels[i];
        p.y = kSampleTables.luma[data[i]];
        // Greyscale carries no colour: neutral chroma.
        p.cb = mono ? std::int16_t{0} : kSampleTables.chroma[data[n + i]];
        p.cr = mono ? std::int16_t{0} : kSampleTables.chroma[data[2 * n + i]];
    }
}

void EncodeY4mFrame(const Picture& picture, bool mono, std::uint8_t* data) {
    const std::size_t n = picture.pixels.size();
    for (std::size_t i = 0; i < n; ++i) {
        const PIXEL_YC& p = picture.pixels[i];
        data[i] = LumaTo8(p.y);
        if (!mono) {
            data[n + i] = ChromaTo8(p.cb);
            data[2 * n + i] = ChromaTo8(p.cr);
        }
    }
}

void DecodeYc48Frame(const std::uint8_t* data, Picture& picture) {
    auto sample = [](const std::uint8_t* b) {
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[0] | (b[1] << 8)));
    };
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        const std::uint8_t* b = data + 6 * i;
        picture.pixels[i] = PIXEL_YC{sample(b), sample(b + 2), sample(b + 4)};
    }
}

void EncodeYc48Frame(const Picture& picture, std::uint8_t* data) {
    auto put = [](std::uint8_t* b, std::int16_t v) {
        const auto u = static_cast<std::uint16_t>(v);
        b[0] = static_cast<std::uint8_t>(u & 0xff);
        b[1] = static_cast<std::uint8_t>(u >> 8);
    };
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        std::uint8_t* b = data + 6 * i;
        put(b, picture.pixels[i].y);
        put(b + 2, picture.pixels[i].cb);
        put(b + 4, picture.pixels[i].cr);
    }
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
        buffer_.resize(Y4mFrameBytes(header_));
    } else {
        buffer_.resize(Yc48FrameBytes(width_, height_));
    }
}

bool VideoReader::ReadFrame(Picture& picture) {
    const long long number = framesRead_ + 1;
    if (format_ == VideoFormat::Y4m) {
        switch (input_.ReadLine(frameLine_, kMaxHeaderLength)) {
            case ByteReader::LineStatus::Ok: break;
            case ByteReader::LineStatus::End: return false;
            case ByteReader::LineStatus::Truncated:
                throw CliError(kExitBadInput, FrameLabel(number) + " is truncated: the input ends inside its FRAME header " +
                                                  Quote(frameLine_));
            case ByteReader::LineStatus::TooLong:
                CheckFrameHeader(frameLine_, number);
                throw CliError(kExitBadInput, FrameLabel(number) + ": FRAME header without end of line within " +
                                                  std::to_string(kMaxHeaderLength) + " bytes");
        }
        CheckFrameHeader(frameLine_, number);
    }
    const std::size_t got = input_.ReadExact(buffer_.data(), buffer_.size());
    if (got == 0 && format_ == VideoFormat::Yc48) return false;
    if (got < buffer_.size()) {
        std::string message = FrameLabel(number) + " is truncated: the input ends after " + std::to_string(got) + " of its " +
                              std::to_string(buffer_.size()) + " bytes";
        if (format_ == VideoFormat::Yc48)
            message += " (the input is not a whole number of " + std::to_string(width_) + "x" + std::to_string(height_) +
                       " frames; is --size right?)";
        throw CliError(kExitBadInput, message);
    }
    if (picture.width != width_ || picture.height != height_) picture = Picture(width_, height_);
    if (format_ == VideoFormat::Y4m)
        DecodeY4mFrame(buffer_.data(), header_.mono, picture);
    else
        DecodeYc48Frame(buffer_.data(), picture);
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
    const std::size_t pixels = picture.pixels.size();
    if (format_ == VideoFormat::Y4m) {
        const std::size_t lineBytes = frameHeaderLine.size() + 1;
        buffer_.resize(lineBytes + (mono_ ? pixels : 3 * pixels));
        std::memcpy(buffer_.data(), frameHeaderLine.data(), frameHeaderLine.size());
        buffer_[lineBytes - 1] = '\n';
        EncodeY4mFrame(picture, mono_, buffer_.data() + lineBytes);
    } else {
        buffer_.resize(pixels * sizeof(PIXEL_YC));
        EncodeYc48Frame(picture, buffer_.data());
    }
    WritePiece(buffer_.data(), buffer_.size());
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
