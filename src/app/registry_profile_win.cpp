// SPDX-License-Identifier: MIT
#include <windows.h>

#include "app/registry_profile.h"
#include "text/wide_win.h"

namespace korvel {

RegistryProfile::RegistryProfile(std::u16string application) : application_(std::move(application)) {}

std::u16string RegistryProfile::SectionKey(std::string_view section) const {
    return u"Software\\Local AppWizard-Generated Applications\\" + application_ + u"\\" + Utf8ToWide(section);
}

int RegistryProfile::GetInt(std::string_view section, std::string_view key, int default_value) const {
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG result = RegGetValueW(HKEY_CURRENT_USER, ToWide(SectionKey(section)).c_str(),
                                     ToWide(key).c_str(), RRF_RT_REG_DWORD, nullptr, &value, &size);
    return result == ERROR_SUCCESS ? static_cast<int>(value) : default_value;
}

bool RegistryProfile::WriteInt(std::string_view section, std::string_view key, int value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ToWide(SectionKey(section)).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, &handle, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD data = static_cast<DWORD>(value);
    const LONG result = RegSetValueExW(handle, ToWide(key).c_str(), 0, REG_DWORD,
                                       reinterpret_cast<const BYTE*>(&data), sizeof data);
    RegFlushKey(handle);
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

std::u16string ProgramName() {
    wchar_t path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, n < MAX_PATH ? n : 0);
    const size_t slash = name.find_last_of(L"\\/");
    if (slash != std::wstring::npos) name.erase(0, slash + 1);
    if (name.size() > 4 && _wcsicmp(name.c_str() + name.size() - 4, L".exe") == 0)
        name.resize(name.size() - 4);
    return FromWide(name);
}

}  // namespace korvel
