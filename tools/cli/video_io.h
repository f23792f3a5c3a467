// Reading and writing video: YUV4MPEG2 (8-bit 4:4:4 and greyscale) and raw
// host frames (yc48: w*h pixels, row after row, each three little-endian
// int16 samples y, cb, cr).
//
// A frame is read whole before it is decoded and encoded whole before it is
// written, so a fault in the input never leaves part of a frame in the
// output. Faults are reported as CliError with the frame number counted
// from 1.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/cli/picture.h"

namespace lowpass::cli {

enum class VideoFormat { Y4m, Yc48 };

// Largest frame the tool accepts: 8192 x 4608 pixels, either side at most 16384.
constexpr int kMaxDimension = 16384;
constexpr long long kMaxPixels = 8192LL * 4608LL;

// Longest stream or frame header line accepted, without its newline.
constexpr std::size_t kMaxHeaderLength = 4096;

// Byte input that remembers why it stopped.
class ByteReader {
public:
    enum class LineStatus { Ok, End, Truncated, TooLong };

    explicit ByteReader(std::FILE* file) : file_(file) {}

    // Reads up to and including '\n'; the line excludes it. End: nothing was
    // left. Truncated: the input ended before the newline. TooLong: no
    // newline within maxLength bytes.
    LineStatus ReadLine(std::string& line, std::size_t maxLength);
    // Reads n bytes unless the input ends first; returns how many it read.
    std::size_t ReadExact(std::uint8_t* data, std::size_t n);

private:
    std::FILE* file_;
};

struct Y4mHeader {
    int width = 0;
    int height = 0;
    bool mono = false;  // Cmono: luma only
    std::string line;   // the header line as read (with a CR it ended in), without its newline
};

// Parses a YUV4MPEG2 stream header line (without its newline; one CR
// before the newline is allowed and kept in the line).
Y4mHeader ParseY4mHeader(const std::string& line);
// Checks a frame header line (without its newline): "FRAME", optionally
// followed by a space and parameters, and optionally ending in one CR.
void CheckFrameHeader(const std::string& line, long long frameNumber);

// Bytes of one frame's picture data (after its FRAME line).
std::size_t Y4mFrameBytes(const Y4mHeader& header);
std::size_t Yc48FrameBytes(int width, int height);

// Converts between frame bytes and host pictures (the picture's size must
// already match).
void DecodeY4mFrame(const std::uint8_t* data, bool mono, Picture& picture);
void EncodeY4mFrame(const Picture& picture, bool mono, std::uint8_t* data);
void DecodeYc48Frame(const std::uint8_t* data, Picture& picture);
void EncodeYc48Frame(const Picture& picture, std::uint8_t* data);

// Makes printable a piece of input quoted in a message.
std::string Quote(const std::string& text, std::size_t maxLength = 24);

class VideoReader {
public:
    // For Y4M reads and checks the stream header now; for yc48 the size
    // comes from the caller.
    VideoReader(std::FILE* file, VideoFormat format, int width = 0, int height = 0);

    VideoFormat format() const { return format_; }
    int width() const { return width_; }
    int height() const { return height_; }
    const Y4mHeader& y4mHeader() const { return header_; }
    // Frames read so far.
    long long framesRead() const { return framesRead_; }

    // Reads the next frame into picture; false at the clean end of the input.
    bool ReadFrame(Picture& picture);
    // The FRAME line of the frame last read (Y4M only).
    const std::string& frameHeaderLine() const { return frameLine_; }

private:
    ByteReader input_;
    VideoFormat format_;
    int width_ = 0;
    int height_ = 0;
    Y4mHeader header_;
    long long framesRead_ = 0;
    std::string frameLine_;
    std::vector<std::uint8_t> buffer_;
};

class VideoWriter {
public:
    // Writes to the file descriptor fd with write(2), unbuffered, so that it
    // knows to the byte how much of the output reached it. For Y4M writes the
    // stream header that was read, unchanged, at once: an input that fails
    // at its first frame still gives a valid (empty) stream.
    VideoWriter(int fd, const VideoReader& source);

    // Writes one frame (for Y4M after the given FRAME line). A write that
    // fails part-way leaves only whole frames: a regular file is cut back to
    // the end of the last whole frame (the stream header counts as whole);
    // for anything else (a pipe, a device) the message says how many whole
    // frames, and how many bytes of the next, were written.
    void WriteFrame(const Picture& picture, const std::string& frameHeaderLine);
    long long framesWritten() const { return frames_; }

private:
    // Writes one piece (the stream header or a whole frame) or fails.
    void WritePiece(const std::uint8_t* data, std::size_t n);
    [[noreturn]] void Fail(int error);
    std::string WholePart() const;
    std::string PieceName() const;

    int fd_;
    VideoFormat format_;
    bool mono_ = false;
    bool headerWritten_ = false;
    long long frames_ = 0;
    std::size_t partial_ = 0;  // bytes of the piece being written that reached the output
    std::vector<std::uint8_t> buffer_;
};

}  // namespace lowpass::cli
