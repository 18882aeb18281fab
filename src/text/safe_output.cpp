// SPDX-License-Identifier: MIT
#include "text/safe_output.h"

namespace korvel {

SafeOutput::~SafeOutput() { Abandon(); }

bool SafeOutput::Fail(const char* what, const std::string& path) {
    error_ = LastSystemFailure(std::string(what) + " " + path);
    return false;
}

bool SafeOutput::Refuse(const char* what, const std::string& path, Failure* error) {
    Fail(what, path);
    if (error) *error = error_;
    Abandon();
    return false;
}

}  // namespace korvel
