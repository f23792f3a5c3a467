#include "tests/cli/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

extern char** environ;

namespace lowpass::clitest {

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "lowpass-cli-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, const std::string& stdinBytes) {
    ScratchDir dir;
    const std::string in = dir.Path("stdin"), out = dir.Path("stdout"), err = dir.Path("stderr");
    WriteFile(in, stdinBytes);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    RunResult result;
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        result.err = "cannot start " + program;
        return result;
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = ReadFile(out);
    result.err = ReadFile(err);
    return result;
}

RunResult RunTool(const std::vector<std::string>& args, const std::string& stdinBytes) {
    return Run(LOWPASS_TOOL_PATH, args, stdinBytes);
}

RunResult RunToolWithOutputFault(const std::vector<std::string>& args, const OutputFault& fault) {
    ScratchDir dir;
    const std::string out = dir.Path("stdout");
    const std::string program = LOWPASS_TOOL_PATH;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Standard error is a pipe too: the file size limit would cut a file short.
    int pipeFds[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    RunResult result;
    if ((fault.pipeReadLimit >= 0 && pipe(pipeFds) != 0) || pipe(errPipe) != 0) {
        result.err = "no pipe";
        return result;
    }

    const pid_t pid = fork();
    if (pid == 0) {  // only async-signal-safe calls until exec
        const int in = open("/dev/null", O_RDONLY);
        const int errFd = errPipe[1];
        const int outFd = fault.pipeReadLimit >= 0 ? pipeFds[1] : open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || errFd < 0 || outFd < 0 || dup2(in, 0) < 0 || dup2(outFd, 1) < 0 || dup2(errFd, 2) < 0) _exit(127);
        if (fault.pipeReadLimit >= 0) close(pipeFds[0]);
        close(errPipe[0]);
        if (fault.fileSizeLimit >= 0) {
            signal(SIGXFSZ, SIG_IGN);  // stays ignored across exec
            const rlimit limit{static_cast<rlim_t>(fault.fileSizeLimit), static_cast<rlim_t>(fault.fileSizeLimit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    if (pid < 0) {
        result.err = "cannot fork";
        return result;
    }
    close(errPipe[1]);
    if (fault.pipeReadLimit >= 0) {
        close(pipeFds[1]);
        char buffer[65536];
        while (result.out.size() < static_cast<std::size_t>(fault.pipeReadLimit)) {
            const std::size_t want =
                std::min(sizeof buffer, static_cast<std::size_t>(fault.pipeReadLimit) - result.out.size());
            const ssize_t n = read(pipeFds[0], buffer, want);
            if (n <= 0) break;
            result.out.append(buffer, static_cast<std::size_t>(n));
        }
        close(pipeFds[0]);
    }
    char buffer[4096];
    for (ssize_t n; (n = read(errPipe[0], buffer, sizeof buffer)) != 0;)
        if (n > 0) result.err.append(buffer, static_cast<std::size_t>(n));
        else if (errno != EINTR) break;
    close(errPipe[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
    }
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    if (fault.pipeReadLimit < 0) result.out = ReadFile(out);
    return result;
}

bool RunToolOnTerminal(const std::vector<std::string>& args, const std::string& inputPath,
                       const std::string& outputPath, RunResult& result) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return false;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname(master) == nullptr) {
        close(master);
        return false;
    }
    const std::string slave = ptsname(master);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inputPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, slave.c_str(), O_RDWR | O_NOCTTY, 0);
    const std::string program = LOWPASS_TOOL_PATH;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        close(master);
        result.err = "cannot start " + program;
        return true;
    }
    // Read the terminal while the program runs, and what is left after.
    int wstatus = 0;
    bool exited = false;
    for (;;) {
        pollfd fd{master, POLLIN, 0};
        if (poll(&fd, 1, 100) > 0 && (fd.revents & POLLIN)) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) {
                result.err.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
        }
        if (exited) break;
        if (waitpid(pid, &wstatus, WNOHANG) == pid) exited = true;
    }
    close(master);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return true;
}

std::string Ffmpeg(const std::vector<std::string>& args, std::string* error) {
    std::vector<std::string> full = {"-nostdin", "-hide_banner", "-loglevel", "error"};
    full.insert(full.end(), args.begin(), args.end());
    full.push_back("-");
    const RunResult r = Run("ffmpeg", full);
    if (r.status != 0 || r.out.empty()) {
        if (error != nullptr) {
            std::ostringstream why;
            why << "ffmpeg failed (status " << r.status << "; it must be installed: tools/install-deps.sh): " << r.err;
            *error = why.str();
        }
        return {};
    }
    return r.out;
}

}  // namespace lowpass::clitest
