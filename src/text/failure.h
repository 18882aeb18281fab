// SPDX-License-Identifier: MIT
// How a failure travels up from the file, port and save paths (one line per rule):
//   1. Where it happens it becomes one Failure (kind and sentence), returned or filled in beside a false.
//   2. The sentence names the file or port, what went wrong and what to do; the kind lets code decide.
//   3. Code in between passes the Failure on unchanged: no rewording, no dropping, no exceptions.
//   4. The front end prints the sentence as it is (the window's tooltip; the command line's stderr, after
//      what the command was at: "korvel-cli: cannot open the port (busy): ...").
//   5. A Failure of kind None is success, and a failure is never reported as one.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

enum class FailureKind { None, Absent, Busy, PermissionDenied, NotSerial, Settings, Other };

struct Failure {
    FailureKind kind = FailureKind::None;
    std::string message;   // the sentence: one line, what went wrong and what to do
    int code = 0;          // the system's error behind it as an errno value (on every OS), when there is one
    std::string reason{};  // the system's own words for that error, when there is one

    explicit operator bool() const { return kind != FailureKind::None; }
};

// The kind of a failure that the system reported with this errno value (ENOENT, EACCES, ...).
FailureKind KindOfError(int code);

// The one way a system error becomes a Failure, per OS (failure_posix.cpp, failure_win.cpp):
// system_code is errno, or GetLastError() on Windows; the message is "<what>: <the system's words>".
Failure SystemFailure(int system_code, std::string_view what);
// The same for the error of this thread's last failed system call.
Failure LastSystemFailure(std::string_view what);

}  // namespace korvel
