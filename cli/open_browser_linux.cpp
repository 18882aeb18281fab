// SPDX-License-Identifier: MIT
// The desktop's browser on Linux: xdg-open, which picks the user's chosen one.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "report_page.h"

extern char** environ;

namespace korvel::cli {

namespace {

Failure Refused(std::string why) { return {FailureKind::Other, std::move(why)}; }

}  // namespace

Failure OpenInBrowser(const std::string& path) {
    char program[] = "xdg-open";
    std::string argument = path;
    char* argv[] = {program, argument.data(), nullptr};
    pid_t pid = -1;
    if (const int error = posix_spawnp(&pid, program, nullptr, nullptr, argv, environ); error != 0) {
        if (error == ENOENT)
            return {FailureKind::Absent, "xdg-open was not found (install xdg-utils)", error};
        return SystemFailure(error, "xdg-open could not be started");
    }
    // xdg-open hands the file on and ends, unless it runs the browser itself in the foreground. So its
    // failures are waited for a few seconds, a browser never.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return {};
    pollfd ready{pidfd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, 5000);
    ::close(pidfd);
    if (polled <= 0) return {};
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return {};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    if (WIFEXITED(status)) {
        return Refused("xdg-open found no browser for it (it ended with " +
                       std::to_string(WEXITSTATUS(status)) + ")");
    }
    return Refused("xdg-open ended with signal " + std::to_string(WTERMSIG(status)));
}

}  // namespace korvel::cli
