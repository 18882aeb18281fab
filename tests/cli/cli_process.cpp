// SPDX-License-Identifier: MIT
#include "cli_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace korvel::testing {

std::string CliPath() { return KORVEL_CLI_PATH; }

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool stderr_terminal) {
    int out_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    int err_parent = -1;
    int err_child = -1;
    if (stderr_terminal) {
        if (openpty(&err_parent, &err_child, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty");
        fcntl(err_parent, F_SETFD, FD_CLOEXEC);
        fcntl(err_child, F_SETFD, FD_CLOEXEC);
    } else {
        int err_pipe[2];
        if (pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        err_parent = err_pipe[0];
        err_child = err_pipe[1];
    }
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        dup2(out_pipe[1], 1);
        dup2(err_child, 2);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_child);
    out_fd_ = out_pipe[0];
    err_fd_ = err_parent;
    if (pid_ < 0) throw std::runtime_error("fork failed");
}

ChildProcess::~ChildProcess() {
    if (!waited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

ProcessResult ChildProcess::Wait(std::chrono::seconds limit) {
    ProcessResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int fds[2] = {out_fd_, err_fd_};
    std::string* sinks[2] = {&result.out, &result.err};
    while (fds[0] >= 0 || fds[1] >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            kill(pid_, SIGKILL);
            break;
        }
        pollfd polls[2];
        for (int i = 0; i < 2; ++i) polls[i] = {fds[i], POLLIN, 0};
        if (poll(polls, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i] < 0 || polls[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                // A pseudo-terminal reports EIO once the child's side is closed.
                fds[i] = -1;
            }
        }
    }
    int status = 0;
    rusage usage{};
    wait4(pid_, &status, 0, &usage);
    waited_ = true;
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    result.max_rss_kb = usage.ru_maxrss;
    return result;
}

ProcessResult RunCli(std::vector<std::string> args) {
    args.insert(args.begin(), CliPath());
    return RunProcess(args);
}

}  // namespace korvel::testing
