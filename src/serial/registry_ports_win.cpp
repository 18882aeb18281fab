// SPDX-License-Identifier: MIT
#include <windows.h>

#include "serial/registry_ports.h"
#include "text/wide_win.h"

namespace korvel {

std::vector<std::u16string> RegistryPortEnumerator::List() {
    return Read(nullptr).value_or(std::vector<std::u16string>());
}

std::optional<std::vector<std::u16string>> RegistryPortEnumerator::Read(bool* absent) {
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, ToWide(key_).c_str(), 0, KEY_READ, &key);
    if (absent) *absent = opened == ERROR_FILE_NOT_FOUND;
    if (opened != ERROR_SUCCESS) return std::nullopt;
    for (DWORD index = 0;; ++index) {
        wchar_t value_name[256];
        DWORD name_size = 256;
        wchar_t data[256] = {};
        DWORD data_size = 255 * sizeof(wchar_t);  // one unit stays free, so the text always ends
        const LONG result = RegEnumValueW(key, index, value_name, &name_size, nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) continue;  // unreadable: skipped
        names.push_back(FromWide(data));
    }
    RegCloseKey(key);
    return names;
}

}  // namespace korvel
