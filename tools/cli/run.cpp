#include "tools/cli/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "plugin/filter_export.h"
#include "tools/cli/cli_error.h"
#include "tools/cli/demo.h"
#include "tools/cli/host_session.h"
#include "tools/cli/video_io.h"

namespace lowpass::cli {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr) std::fclose(f);
    }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

struct OutputFile {
    int fd = -1;
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile() {
        if (fd >= 0) close(fd);
    }
};

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// "frames done, frames per second" on one line that rewrites itself.
class Progress {
public:
    explicit Progress(std::FILE* out) : out_(out), start_(Clock::now()), last_(start_) {}

    void FrameDone(long long frames) {
        if (out_ == nullptr) return;
        const auto now = Clock::now();
        if (now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        std::fprintf(out_, "\rlowpass: %lld frames, %.1f fps ", frames, Rate(frames, now));
        std::fflush(out_);
        shown_ = true;
    }

    void Finish(long long frames) {
        if (out_ == nullptr) return;
        const auto now = Clock::now();
        std::fprintf(out_, "\rlowpass: %lld frames, %.1f fps, done\n", frames, Rate(frames, now));
        std::fflush(out_);
    }

    // A fault message must start on a line of its own.
    void Interrupt() {
        if (out_ != nullptr && shown_) std::fputc('\n', out_);
    }

private:
    using Clock = std::chrono::steady_clock;
    double Rate(long long frames, Clock::time_point now) const {
        const double seconds = std::chrono::duration<double>(now - start_).count();
        return seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
    }

    std::FILE* out_;
    Clock::time_point start_;
    Clock::time_point last_;
    bool shown_ = false;
};

}  // namespace

void RunFilter(const CliOptions& options, std::FILE* diagnostics) {
    FileHandle inputFile;
    std::FILE* input = stdin;
    if (options.input != "-") {
        inputFile.reset(std::fopen(options.input.c_str(), "rb"));
        if (!inputFile) throw CliError(kExitIo, "cannot open " + options.input + ": " + std::strerror(errno));
        input = inputFile.get();
    }
    if (options.input != "-" && options.output != "-" && SameFile(options.input, options.output))
        throw CliError(kExitUsage, "the output " + options.output + " is the input file; it would be overwritten while read");

    // Settings first, so that an option out of range fails before any I/O.
    const FilterSettings settings = ResolveSettings(options, *GetFilterTable());
    HostSession session(settings, options.engine);

    VideoReader reader(input, options.format, options.width, options.height);

    // The output file is created only once the input has a valid header.
    // It is written through its descriptor, unbuffered (see VideoWriter).
    OutputFile outputFile;
    int output = STDOUT_FILENO;
    if (options.output != "-") {
        outputFile.fd = open(options.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (outputFile.fd < 0) throw CliError(kExitIo, "cannot create " + options.output + ": " + std::strerror(errno));
        output = outputFile.fd;
    }
    VideoWriter writer(output, reader);

    Progress progress(diagnostics);
    Picture picture;
    try {
        while (reader.ReadFrame(picture)) {
            session.Process(picture, static_cast<int>(reader.framesRead() - 1));
            writer.WriteFrame(picture, reader.frameHeaderLine());
            progress.FrameDone(reader.framesRead());
        }
    } catch (...) {
        progress.Interrupt();
        throw;
    }
    progress.Finish(reader.framesRead());
    if (outputFile.fd >= 0) {
        const int fd = outputFile.fd;
        outputFile.fd = -1;
        if (close(fd) != 0) throw CliError(kExitIo, "cannot write " + options.output + ": " + std::strerror(errno));
    }
}

int Main(int argc, char** argv) {
    // A closed output pipe is reported as a write error, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        const CliOptions options = ParseOptions(args);
        if (options.help) {
            const std::string help = HelpText(*GetFilterTable());
            std::fputs(help.c_str(), stdout);
            return std::fflush(stdout) == 0 ? kExitOk : kExitIo;
        }
        if (options.demoDir) {
            RunDemo(options, stdout);
            return kExitOk;
        }
        RunFilter(options, isatty(STDERR_FILENO) ? stderr : nullptr);
        return kExitOk;
    } catch (const CliError& error) {
        std::fprintf(stderr, "lowpass: %s\n", error.what());
        return error.status();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "lowpass: out of memory\n");
        return kExitIo;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lowpass: %s\n", error.what());
        return kExitIo;
    }
}

}  // namespace lowpass::cli
