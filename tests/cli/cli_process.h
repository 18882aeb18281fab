// SPDX-License-Identifier: MIT
// Runs korvel-cli (or any program) as a child process and collects what it printed and how it ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_folder.h"

namespace korvel::testing {

std::string CliPath();

struct ProcessResult {
    int exit_code = -1;  // -1 when it did not exit normally
    int signal = 0;
    bool timed_out = false;
    std::string out;
    std::string err;
    long max_rss_kb = 0;
};

class ChildProcess {
  public:
    // Starts argv[0] (a path) with stdin from /dev/null and stdout, stderr into pipes. With
    // stderr_terminal, stderr is a pseudo-terminal instead, read the same way.
    explicit ChildProcess(const std::vector<std::string>& argv, bool stderr_terminal = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Collects output until both streams end, then reaps the child. Past the limit it is killed.
    ProcessResult Wait(std::chrono::seconds limit = std::chrono::seconds(90));

  private:
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool waited_ = false;
};

inline ProcessResult RunProcess(const std::vector<std::string>& argv, bool stderr_terminal = false) {
    return ChildProcess(argv, stderr_terminal).Wait();
}

// Whether unshare(1) refused the namespace it was asked for: no right to make one, or a root that is not
// a mount point (a chroot, as package builders use) whose propagation cannot change. Its own messages
// begin with "unshare: "; a test that needs the namespace skips then.
inline bool UnshareRefused(const ProcessResult& result) {
    return result.err.rfind("unshare: ", 0) == 0 || result.err.find("\nunshare: ") != std::string::npos;
}

// korvel-cli with the given arguments.
ProcessResult RunCli(std::vector<std::string> args);

// A fresh folder below the system's temporary folder, removed with everything in it on destruction.
using TempDir = TempFolder;

}  // namespace korvel::testing
