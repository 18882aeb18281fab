// SPDX-License-Identifier: MIT
// Runs the simulated recorder korvel-sim as a child process for end-to-end tests and benchmarks.
//
//   korvel::testing::SimProcess sim;
//   ASSERT_TRUE(sim.Start({"--records", "250", "--protocol", "2"})) << sim.error();
//   ... open sim.pty_path() with the serial layer or OpenRawTty() ...
//   ASSERT_TRUE(sim.AddRecords(5));             // returns once the device holds them
//   ASSERT_TRUE(sim.WaitForRequests(3));        // the device has received three commands
//   EXPECT_EQ(sim.Requests()[0], "info");
//
// Every instance owns a private temporary folder (dir()) with the request log and a symlink to the
// device; the folder goes with the object. The simulator exits when the object is destroyed, and also
// when the test process dies (it watches its stdin).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/pty.h"

namespace korvel::testing {

class SimProcess {
  public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts korvel-sim with `args` (its device and fault options; see korvel-sim --help) and waits
    // until it reports its pseudo-terminal. False, with error() set, when it could not start.
    bool Start(const std::vector<std::string>& args = {}, std::chrono::milliseconds timeout = kIoTimeout);

    const std::string& error() const { return error_; }
    const std::string& pty_path() const { return pty_path_; }    // changes after a replug
    const std::string& link_path() const { return link_path_; }  // symlink that follows the device
    const std::string& log_path() const { return log_path_; }
    const std::string& dir() const { return dir_; }  // private folder, removed with the object
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }

    // Opens the device's terminal raw (plain termios), as a client would.
    UniqueFd Connect(std::string* error = nullptr) const { return OpenRawTty(pty_path_, error); }

    // Sends one control command ("add 5", "status", "clock 2024-03-05 07:08:09", "stall", "resume",
    // "hangup", "replug") and returns its answer line, "ok ..." or "error ...". The command has taken
    // effect when this returns. nullopt when no answer came.
    std::optional<std::string> Control(const std::string& command,
                                       std::chrono::milliseconds timeout = kIoTimeout);
    bool AddRecords(int count) { return Answered(Control("add " + std::to_string(count))); }

    // Waits for an event line from the simulator that begins with `prefix`: "hangup sent=N" after a
    // hang-up, "pty PATH" when a new terminal is offered (pty_path() follows it). Returns the line.
    std::optional<std::string> WaitForEvent(std::string_view prefix,
                                            std::chrono::milliseconds timeout = kIoTimeout);

    // The commands the device has received so far, in order, without their timestamps.
    std::vector<std::string> Requests() const;
    // Waits until at least `count` commands have been received (watches the log; no polling loop).
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout = kIoTimeout) const;

    // Asks the simulator to end (SIGTERM) and reaps it; kills it when it does not end in time.
    // Returns its exit status, or -1 when it had to be killed or was not running.
    int Stop(std::chrono::milliseconds timeout = kIoTimeout);
    // The recorder dies at once (SIGKILL), in the middle of whatever it was sending, and is reaped. Its
    // link stays behind, dangling, as it would after a crash. Start() runs it again in the same folder,
    // under the same link.
    void Kill();

  private:
    static bool Answered(const std::optional<std::string>& answer) {
        return answer && answer->rfind("ok", 0) == 0;
    }
    std::optional<std::string> ReadStdoutLine(std::chrono::steady_clock::time_point deadline);
    void NoteEvent(const std::string& line);
    bool Fail(std::string message);

    std::string error_;
    std::string dir_;
    std::string pty_path_;
    std::string link_path_;
    std::string log_path_;
    pid_t pid_ = -1;
    UniqueFd stdin_;   // control commands to the simulator
    UniqueFd stdout_;  // its pty path, answers and events
    std::string stdout_buffer_;
    std::deque<std::string> events_;
};

}  // namespace korvel::testing
