// SPDX-License-Identifier: MIT
#include <cerrno>
#include <cstring>

#include "text/failure.h"

namespace korvel {

Failure SystemFailure(int system_code, std::string_view what) {
    std::string reason = std::strerror(system_code);
    std::string message = std::string(what) + ": " + reason;
    return {KindOfError(system_code), std::move(message), system_code, std::move(reason)};
}

Failure LastSystemFailure(std::string_view what) { return SystemFailure(errno, what); }

}  // namespace korvel
