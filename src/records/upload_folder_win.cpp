// SPDX-License-Identifier: MIT
// The upload folder on Windows: "\hollin.data\upload" in the user's profile, else the program's folder.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "records/record_file.h"
#include "text/wide_win.h"

namespace korvel {

std::u16string ResolveUploadFolder() {
    wchar_t profile[MAX_PATH] = {};
    std::wstring candidate;
    if (SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile) == S_OK) candidate = profile;
    candidate += L"\\hollin.data\\upload";
    if (PathIsDirectoryW(candidate.c_str())) return FromWide(candidate);

    // A path longer than MAX_PATH is cut off by the call; the buffer then holds no usable folder.
    wchar_t program[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    PathRemoveFileSpecW(program);
    return FromWide(program);
}

}  // namespace korvel
