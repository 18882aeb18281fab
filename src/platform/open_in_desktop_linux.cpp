// SPDX-License-Identifier: MIT
// The desktop's opener on Linux: xdg-open, which picks the user's chosen browser or file manager.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/open_in_desktop.h"

extern char** environ;

namespace korvel {

namespace {

Failure Refused(std::string why) { return {FailureKind::Other, std::move(why)}; }

}  // namespace

Failure OpenInDesktop(const std::string& path) {
    const char* chosen = std::getenv(kOpenWithVariable);
    std::string program = chosen && *chosen ? chosen : "xdg-open";
    std::string argument = path;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = -1;
    if (const int error = posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ); error != 0) {
        if (error == ENOENT && program == "xdg-open")
            return {FailureKind::Absent, "xdg-open was not found (install xdg-utils)", error};
        if (error == ENOENT)
            return {FailureKind::Absent, program + " (named by " + kOpenWithVariable + ") was not found",
                    error};
        return SystemFailure(error, program + " could not be started");
    }
    // xdg-open hands the path on and ends, unless it runs the program itself in the foreground. So its
    // failures are waited for a few seconds, a browser or file manager never.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) return {};
    pollfd ready{pidfd, POLLIN, 0};
    const int polled = ::poll(&ready, 1, 5000);
    ::close(pidfd);
    if (polled <= 0) {
        // Still running: it is reaped whenever it ends, so a window that opens many leaves no zombies.
        try {
            std::thread([pid] { ::waitpid(pid, nullptr, 0); }).detach();
        } catch (const std::system_error&) {
        }
        return {};
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return {};
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    if (WIFEXITED(status)) {
        return Refused(program + " found no program to open it (it ended with " +
                       std::to_string(WEXITSTATUS(status)) + ")");
    }
    return Refused(program + " ended with signal " + std::to_string(WTERMSIG(status)));
}

}  // namespace korvel
