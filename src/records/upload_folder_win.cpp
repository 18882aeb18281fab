// SPDX-License-Identifier: MIT
// The upload folder on Windows: "\hollin.data\upload" in the user's profile (%USERPROFILE%), else the
// program's folder when it takes a file, else the profile's folder, created.
#include <windows.h>

#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "records/record_file.h"
#include "text/file_system.h"
#include "text/wide_win.h"

namespace korvel {
namespace {

// %USERPROFILE%, as the operator names the folder; the shell's answer when the variable is not set.
std::wstring ProfileFolder() {
    std::wstring value(32768, L'\0');
    const DWORD n = GetEnvironmentVariableW(L"USERPROFILE", value.data(), static_cast<DWORD>(value.size()));
    if (n > 0 && n < value.size()) {
        value.resize(n);
        return value;
    }
    wchar_t profile[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, profile) == S_OK) return profile;
    return {};
}

}  // namespace

std::u16string ResolveUploadFolder() {
    const std::wstring profile = ProfileFolder();
    const bool has_profile = !profile.empty();
    const std::wstring data = profile + L"\\hollin.data";
    const std::wstring candidate = data + L"\\upload";
    if (has_profile && PathIsDirectoryW(candidate.c_str())) return FromWide(candidate);

    // A path longer than MAX_PATH is cut off by the call; the buffer then holds no usable folder.
    wchar_t program[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH);
    const bool has_program = n != 0 && n < MAX_PATH;
    if (has_program) PathRemoveFileSpecW(program);
    if (has_program && !FolderProblem(ToUtf8(program))) return FromWide(program);
    // An installed program (Program Files, which a standard user cannot write; the manifest's asInvoker
    // turns file virtualisation off): the records go to the profile, whose folder is made for them.
    if (has_profile && MakeDirectory(ToUtf8(data)) && MakeDirectory(ToUtf8(candidate)))
        return FromWide(candidate);
    return has_program ? FromWide(program) : std::u16string();
}

}  // namespace korvel
