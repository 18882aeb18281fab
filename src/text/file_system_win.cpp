// SPDX-License-Identifier: MIT
#include <windows.h>

#include "text/file_system.h"
#include "text/wide_win.h"

namespace korvel {
namespace {

bool Fail(Failure* error, const char* what, const std::string& path) {
    if (error) *error = LastSystemFailure(std::string(what) + " " + path);
    return false;
}

}  // namespace

bool RenameFile(const std::string& from, const std::string& to, Failure* error) {
    // Replaces an existing file in one step and returns only once the new name is on the disk.
    if (!MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return Fail(error, "cannot rename", from + " to " + to);
    return true;
}

bool LinkFile(const std::string& from, const std::string& to, Failure* error) {
    const std::wstring target = ToWide(to);
    if (CreateHardLinkW(target.c_str(), ToWide(from).c_str(), nullptr)) return true;
    const DWORD code = GetLastError();
    // File systems without hard links (FAT): a rename that does not replace; an existing name fails it.
    if (code == ERROR_INVALID_FUNCTION || code == ERROR_NOT_SUPPORTED || code == ERROR_ACCESS_DENIED) {
        if (MoveFileExW(ToWide(from).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
        return Fail(error, "cannot name", from + " as " + to);
    }
    SetLastError(code);
    return Fail(error, "cannot name", from + " as " + to);
}

bool RemoveFile(const std::string& path, Failure* error) {
    if (!DeleteFileW(ToWide(path).c_str())) return Fail(error, "cannot delete", path);
    return true;
}

bool MakeDirectory(const std::string& path, Failure* error) {
    if (CreateDirectoryW(ToWide(path).c_str(), nullptr) ||
        (GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(path)))
        return true;
    return Fail(error, "cannot create the folder", path);
}

// MOVEFILE_WRITE_THROUGH already made the rename durable; a folder has nothing more to flush here.
bool SyncDirectory(const std::string&, Failure*) { return true; }

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, Failure* error) {
    entries.clear();
    std::wstring pattern = ToWide(path);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW found{};
    const HANDLE find = FindFirstFileW(pattern.c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root
        return Fail(error, "cannot list the folder", path);
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        EntryType type = EntryType::kFile;
        // Junctions and symbolic links are name-surrogate reparse points: reported as links, never
        // entered, so a junction that leads back up the tree cannot make a walk endless. Other reparse
        // points (cloud placeholders, deduplicated files) are the folders and files they look like.
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            IsReparseTagNameSurrogate(found.dwReserved0)) {
            type = EntryType::kSymlink;
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            type = EntryType::kDirectory;
        } else if (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) {
            type = EntryType::kOther;
        }
        entries.push_back({ToUtf8(name), type});
    } while (FindNextFileW(find, &found));
    const DWORD last = GetLastError();
    FindClose(find);
    if (last != ERROR_NO_MORE_FILES) {
        SetLastError(last);
        return Fail(error, "cannot list the folder", path);
    }
    return true;
}

std::string_view PathSeparators() { return "\\/"; }

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const std::string& path) {
    return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

Failure FolderReadProblem(const std::string& folder) {
    const std::string what = "cannot read the folder " + folder;
    const DWORD attributes = GetFileAttributesW(ToWide(folder).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemFailure(what);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {FailureKind::Other, what + ": not a folder", ENOTDIR, "not a folder"};
    return {};
}

Failure FolderProblem(const std::string& folder) {
    const std::string what = "cannot create files in " + folder;
    const std::wstring wide = ToWide(folder);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemFailure(what);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {FailureKind::Other, what + ": not a folder", ENOTDIR, "not a folder"};
    // A probe that is gone when its handle closes, and whose name never looks like a record file's.
    // Created by hand: GetTempFileNameW is not relied on to report a file it could not create.
    std::wstring probe = wide;
    if (!probe.empty() && probe.back() != L'\\' && probe.back() != L'/') probe += L'\\';
    probe +=
        L"kvl" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L".tmp";
    const HANDLE file =
        CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code != ERROR_FILE_EXISTS) return SystemFailure(static_cast<int>(code), what);
        return {};  // another probe of this name: the folder takes files
    }
    CloseHandle(file);
    return {};
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(ToWide(folder).c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

}  // namespace korvel
