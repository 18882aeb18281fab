// SPDX-License-Identifier: MIT
#include <windows.h>

#include "platform/host_name.h"
#include "text/utf8.h"

namespace korvel {

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return "unknown";
    return WideToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
}

}  // namespace korvel
