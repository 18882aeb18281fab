// SPDX-License-Identifier: MIT
#include <windows.h>

#include "text/failure.h"
#include "text/wide_win.h"

namespace korvel {

Failure SystemFailure(int system_code, std::string_view what) {
    const DWORD code = static_cast<DWORD>(system_code);
    std::string reason = SystemMessage(code);
    std::string message = std::string(what) + ": " + reason;
    return {KindOfError(ErrnoOf(code)), std::move(message), ErrnoOf(code), std::move(reason)};
}

Failure LastSystemFailure(std::string_view what) {
    return SystemFailure(static_cast<int>(GetLastError()), what);
}

}  // namespace korvel
