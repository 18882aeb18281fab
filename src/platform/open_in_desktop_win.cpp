// SPDX-License-Identifier: MIT
// The desktop's opener on Windows: the shell opens a page with the program registered for .html and a
// folder in Explorer.
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <string>

#include "platform/open_in_desktop.h"
#include "text/utf8.h"

namespace korvel {

namespace {

Failure Refused(std::string why) { return {FailureKind::Other, std::move(why)}; }

std::wstring Wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// The program named by the variable, empty when none is.
std::wstring ChosenProgram() {
    wchar_t name[] = L"KORVEL_OPEN_WITH";
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size <= 1) return {};
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

}  // namespace

Failure OpenInDesktop(const std::string& path) {
    std::wstring file = Wide(Utf8ToWide(path));
    for (wchar_t& c : file)
        if (c == L'/') c = L'\\';
    const std::wstring program = ChosenProgram();
    // The path as one argument of the chosen program; a path cannot hold a quote.
    const std::wstring quoted = L"\"" + file + L"\"";
    // Values above 32 mean success; the others are the old error numbers of this call.
    const auto result = reinterpret_cast<INT_PTR>(
        program.empty()
            ? ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL)
            : ShellExecuteW(nullptr, L"open", program.c_str(), quoted.c_str(), nullptr, SW_SHOWNORMAL));
    if (result > 32) return {};
    switch (result) {
        case SE_ERR_NOASSOC:
        case SE_ERR_ASSOCINCOMPLETE:
            return Refused("no program is registered to open it");
        case SE_ERR_FNF:
        case SE_ERR_PNF:
            return Refused(program.empty() ? "the shell did not find it"
                                           : "the shell did not find the program named by KORVEL_OPEN_WITH");
        case SE_ERR_ACCESSDENIED:
            return Refused("the shell was denied access to it");
        default:
            return Refused("the shell could not open it (error " + std::to_string(result) + ")");
    }
}

}  // namespace korvel
