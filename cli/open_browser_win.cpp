// SPDX-License-Identifier: MIT
// The desktop's browser on Windows: the shell opens the file with the program registered for .html.
#include <windows.h>
// shellapi.h needs windows.h before it.
#include <shellapi.h>

#include <string>

#include "report_page.h"
#include "text/utf8.h"

namespace korvel::cli {

namespace {

Failure Refused(std::string why) { return {FailureKind::Other, std::move(why)}; }

}  // namespace

Failure OpenInBrowser(const std::string& path) {
    const std::u16string wide = Utf8ToWide(path);
    std::wstring file(wide.begin(), wide.end());
    for (wchar_t& c : file)
        if (c == L'/') c = L'\\';
    // Values above 32 mean success; the others are the old error numbers of this call.
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", file.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (result > 32) return {};
    switch (result) {
        case SE_ERR_NOASSOC:
        case SE_ERR_ASSOCINCOMPLETE:
            return Refused("no program is registered to open .html files");
        case SE_ERR_FNF:
        case SE_ERR_PNF:
            return Refused("the shell did not find the file");
        case SE_ERR_ACCESSDENIED:
            return Refused("the shell was denied access to the file");
        default:
            return Refused("the shell could not open the file (error " + std::to_string(result) + ")");
    }
}

}  // namespace korvel::cli
