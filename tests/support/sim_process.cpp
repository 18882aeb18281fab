// SPDX-License-Identifier: MIT
#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "support/paths.h"

extern char** environ;

namespace korvel::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

std::string MakeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/korvel-sim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

}  // namespace

SimProcess::~SimProcess() {
    Stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

bool SimProcess::Fail(std::string message) {
    error_ = std::move(message);
    return false;
}

bool SimProcess::Start(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    if (running()) return Fail("the simulator is already running");
    const std::string program = SimulatorPath();
    if (access(program.c_str(), X_OK) != 0)
        return Fail("korvel-sim not found at " + program + "; build it first");
    if (dir_.empty()) dir_ = MakeTempDir();
    if (dir_.empty()) return Fail(std::string("cannot create a temporary folder: ") + std::strerror(errno));
    log_path_ = dir_ + "/requests.log";
    link_path_ = dir_ + "/tty";

    int in[2], out[2];
    // A socket rather than a pipe for its stdin: a write to a simulator that has died then fails
    // with EPIPE (MSG_NOSIGNAL) instead of raising SIGPIPE in the test program.
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, in) != 0)
        return Fail(std::string("socketpair: ") + std::strerror(errno));
    UniqueFd in_read(in[0]);
    stdin_.reset(in[1]);
    if (pipe2(out, O_CLOEXEC) != 0) return Fail(std::string("pipe: ") + std::strerror(errno));
    stdout_.reset(out[0]);
    UniqueFd out_write(out[1]);
    stdout_buffer_.clear();
    events_.clear();

    std::vector<std::string> argv_text = {program,    "--log",     log_path_, "--link",
                                          link_path_, "--control", "-",       "--exit-on-stdin-eof"};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_read.get(), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out_write.get(), STDOUT_FILENO);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return Fail("cannot start " + program + ": " + std::strerror(rc));
    pid_ = pid;
    in_read.reset();
    out_write.reset();  // so the pipe reports end of file once the simulator is gone

    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    std::optional<std::string> first = ReadStdoutLine(deadline);
    if (!first || first->empty() || first->front() != '/') {
        const int status = Stop();
        return Fail("korvel-sim did not report its terminal (exit status " + std::to_string(status) +
                    "; its messages are on stderr)");
    }
    pty_path_ = *first;
    error_.clear();
    return true;
}

std::optional<std::string> SimProcess::ReadStdoutLine(SteadyClock::time_point deadline) {
    for (;;) {
        const size_t lf = stdout_buffer_.find('\n');
        if (lf != std::string::npos) {
            std::string line = stdout_buffer_.substr(0, lf);
            stdout_buffer_.erase(0, lf + 1);
            return line;
        }
        if (!stdout_) return std::nullopt;
        pollfd p{stdout_.get(), POLLIN, 0};
        const int r = poll(&p, 1, MillisLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        char buf[1024];
        const ssize_t n = read(stdout_.get(), buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            stdout_.reset();
            return std::nullopt;
        }
        stdout_buffer_.append(buf, static_cast<size_t>(n));
    }
}

void SimProcess::NoteEvent(const std::string& line) {
    if (line.rfind("pty ", 0) == 0) pty_path_ = line.substr(4);
    events_.push_back(line);
}

std::optional<std::string> SimProcess::Control(const std::string& command,
                                               std::chrono::milliseconds timeout) {
    if (!running() || !stdin_) return std::nullopt;
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    const std::string request = command + "\n";
    for (size_t done = 0; done < request.size();) {
        const ssize_t n = send(stdin_.get(), request.data() + done, request.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<size_t>(n);
    }
    for (;;) {
        std::optional<std::string> line = ReadStdoutLine(deadline);
        if (!line) return std::nullopt;
        if (line->rfind("ok", 0) == 0 || line->rfind("error", 0) == 0) return line;
        NoteEvent(*line);
    }
}

std::optional<std::string> SimProcess::WaitForEvent(std::string_view prefix,
                                                    std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    for (;;) {
        for (auto it = events_.begin(); it != events_.end(); ++it) {
            if (it->rfind(prefix, 0) == 0) {
                std::string line = *it;
                events_.erase(it);
                return line;
            }
        }
        std::optional<std::string> line = ReadStdoutLine(deadline);
        if (!line) return std::nullopt;
        NoteEvent(*line);
    }
}

std::vector<std::string> SimProcess::Requests() const {
    std::vector<std::string> requests;
    std::ifstream log(log_path_);
    std::string line;
    // Only whole lines: the simulator writes each entry with one write(), ending in LF.
    while (std::getline(log, line)) {
        if (log.eof()) break;
        const size_t space = line.find(' ');
        requests.push_back(space == std::string::npos ? std::string() : line.substr(space + 1));
    }
    return requests;
}

bool SimProcess::WaitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    UniqueFd watch(inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    if (!watch || inotify_add_watch(watch.get(), log_path_.c_str(), IN_MODIFY) < 0) return false;
    UniqueFd log(open(log_path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!log) return false;
    size_t lines = 0;
    for (;;) {
        // The watch exists before the log is read, so no entry can slip between the two. Each entry
        // is one write ending in LF, so counting LFs counts whole entries; reading on from where the
        // last pass stopped keeps a long wait linear.
        char buf[8192];
        ssize_t n;
        while ((n = read(log.get(), buf, sizeof buf)) > 0)
            for (ssize_t i = 0; i < n; ++i) lines += buf[i] == '\n';
        if (lines >= count) return true;
        pollfd p{watch.get(), POLLIN, 0};
        const int r = poll(&p, 1, MillisLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) {
            if (SteadyClock::now() >= deadline) return false;
            continue;
        }
        char events[4096];
        while (read(watch.get(), events, sizeof events) > 0) {
        }
    }
}

int SimProcess::Stop(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    stdin_.reset();
    // The simulator is gone when its stdout reaches end of file; then waitpid cannot block.
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    while (stdout_) {
        if (std::optional<std::string> line = ReadStdoutLine(deadline)) {
            NoteEvent(*line);
            continue;
        }
        if (SteadyClock::now() >= deadline) break;
    }
    bool killed = false;
    if (stdout_) {
        kill(pid_, SIGKILL);
        killed = true;
        stdout_.reset();
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    if (killed || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void SimProcess::Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    stdin_.reset();
    stdout_.reset();
}

}  // namespace korvel::testing
