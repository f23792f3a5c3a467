#include "fuzz/video_round_trip.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/cli/cli_error.h"

namespace lowpass::fuzz {

namespace {

[[noreturn]] void Fail(const std::string& why) {
    std::fprintf(stderr, "round trip: %s\n", why.c_str());
    std::abort();
}

// The output: a file in memory, emptied for every input.
int Output() {
    static const int fd = memfd_create("lowpass-fuzz-output", MFD_CLOEXEC);
    if (fd < 0) Fail("no memfd");
    if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) Fail("cannot empty the memfd");
    return fd;
}

std::string Written(int fd) {
    const off_t size = lseek(fd, 0, SEEK_CUR);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    if (size > 0 && pread(fd, bytes.data(), bytes.size(), 0) != size) Fail("cannot read the memfd back");
    return bytes;
}

void CheckMessage(const cli::CliError& error) {
    const std::string message = error.what();
    if (error.status() != cli::kExitBadInput) Fail("status " + std::to_string(error.status()) + ": " + message);
    if (message.empty() || message.size() > 400) Fail("message of " + std::to_string(message.size()) + " bytes");
    for (char c : message)
        if (c < 0x20 || c > 0x7e) Fail("unprintable byte " + std::to_string(static_cast<unsigned char>(c)) + " in the message");
}

}  // namespace

void CheckRoundTrip(const std::uint8_t* data, std::size_t size, cli::VideoFormat format, int width, int height) {
    // fmemopen wants a buffer of its own and at least one byte.
    std::vector<char> copy(data, data + size);
    std::FILE* input = size > 0 ? fmemopen(copy.data(), size, "rb") : std::fopen("/dev/null", "rb");
    if (input == nullptr) Fail("cannot open the input");

    const int output = Output();
    bool clean = false;
    long long framesRead = 0;
    try {
        cli::VideoReader reader(input, format, width, height);
        cli::VideoWriter writer(output, reader);
        cli::Picture picture;
        while (reader.ReadFrame(picture)) writer.WriteFrame(picture, reader.frameHeaderLine());
        framesRead = reader.framesRead();
        if (writer.framesWritten() != framesRead) Fail("frames read and written differ");
        clean = true;
    } catch (const cli::CliError& error) {
        CheckMessage(error);
    }
    std::fclose(input);

    const std::string written = Written(output);
    const std::string in(reinterpret_cast<const char*>(data), size);
    if (written.size() > in.size() || in.compare(0, written.size(), written) != 0)
        Fail("the output is not the start of the input");
    if (clean && written.size() != in.size())
        Fail("a clean end after " + std::to_string(framesRead) + " frames, but " + std::to_string(written.size()) +
             " of " + std::to_string(in.size()) + " bytes written");
}

}  // namespace lowpass::fuzz
