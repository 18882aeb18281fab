// SPDX-License-Identifier: MIT
// How a failure travels up from the file, port and save paths (one line per rule):
//   1. Where it happens it becomes one Failure (kind and sentence), returned or filled in beside a false.
//   2. The sentence names the file or port, what went wrong and what to do; the kind lets code decide.
//   3. Code in between passes the Failure on unchanged: no rewording, no dropping, no exceptions.
//   4. The front end prints the sentence as it is (the window's tooltip, the command line's stderr).
//   5. A Failure of kind None is success, and a failure is never reported as one.
#pragma once

#include <string>

namespace korvel {

enum class FailureKind { None, Absent, Busy, PermissionDenied, NotSerial, Settings, Other };

struct Failure {
    FailureKind kind = FailureKind::None;
    std::string message;  // the sentence: one line, what went wrong and what to do
    int code = 0;         // the system's error number behind it, when there is one

    explicit operator bool() const { return kind != FailureKind::None; }
};

// The kind of a failure that the system reported with this error number (ENOENT, EACCES, ...).
FailureKind KindOfError(int code);

}  // namespace korvel
