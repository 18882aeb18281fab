// SPDX-License-Identifier: MIT
// How a failure travels from the file, port and save paths below the front ends:
//   1. The code that meets a failure describes it once, as a Failure (its kind and the system's sentence),
//      and returns it, or returns false and fills the caller's Failure.
//   2. The kind is for code that must decide; the sentence is for the operator: what went wrong, and what
//      to do about it, naming the file or port.
//   3. Whatever lies between passes the Failure up unchanged: no rewording, no dropping, no exceptions.
//   4. The front end prints the sentence as it is (the window's tooltip, the command line's stderr).
//   5. A Failure of kind None means success; a failure is never reported as one.
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
