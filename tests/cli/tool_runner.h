// Running the built lowpass program (and ffmpeg) as a subprocess, with files
// in a scratch folder of the test's own.
#pragma once

#include <string>
#include <vector>

namespace lowpass::clitest {

struct RunResult {
    int status = -1;  // exit status, or -1 if the program did not exit normally
    std::string out;
    std::string err;
};

// Runs program with args, feeding stdinBytes to its standard input.
RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& stdinBytes = "");

// The lowpass program built with the tests.
RunResult RunTool(const std::vector<std::string>& args, const std::string& stdinBytes = "");

// Runs the lowpass program with standard input empty and a fault planted in
// its output. fileSizeLimit >= 0: every file it writes may grow to that many
// bytes (RLIMIT_FSIZE, with SIGXFSZ ignored so that a write past the limit
// fails with EFBIG as it does on a full disk). pipeReadLimit >= 0: standard
// output is a pipe that is closed once that many bytes have been read from
// it; result.out holds those bytes.
struct OutputFault {
    long long fileSizeLimit = -1;
    long long pipeReadLimit = -1;
};
RunResult RunToolWithOutputFault(const std::vector<std::string>& args, const OutputFault& fault);

// Runs the lowpass program with its standard error on a pseudo-terminal
// (standard input and output on the given files) and returns what appeared
// on the terminal. False if the system offers no pseudo-terminal.
bool RunToolOnTerminal(const std::vector<std::string>& args, const std::string& inputPath,
                       const std::string& outputPath, RunResult& result);

// A fresh folder under the system's temporary folder, removed by the destructor.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string Path(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Runs ffmpeg with a lavfi source and returns what it wrote to standard
// output; the string is empty (and error describes why) if ffmpeg failed.
std::string Ffmpeg(const std::vector<std::string>& args, std::string* error);

}  // namespace lowpass::clitest
