// The one kind of failure the tool reports: a message for a single line on
// standard error and the exit status that goes with it.
#pragma once

#include <stdexcept>
#include <string>

namespace lowpass::cli {

// Exit statuses, as --help lists them.
constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;  // malformed, truncated or unsupported video
constexpr int kExitUsage = 2;     // bad option, value out of range, engine not available
constexpr int kExitIo = 3;        // a file could not be opened, read or written

class CliError : public std::runtime_error {
public:
    CliError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

}  // namespace lowpass::cli
