// SPDX-License-Identifier: MIT
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "text/safe_output.h"
#include "text/wide_win.h"

namespace korvel {
namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Eight hexadecimal digits nobody can guess from the time or the process.
std::string RandomWord() {
    std::random_device device;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(device() ^ GetTickCount()));
    return text;
}

}  // namespace

bool SafeOutput::Open(const std::string& path, Failure* error) {
    Abandon();
    new_mode_ = false;
    error_ = {};
    path_ = target_ = path;
    // A device (NUL, CON, a pipe) is written where it is; a file is replaced.
    const HANDLE existing =
        CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (existing != INVALID_HANDLE_VALUE) {
        const DWORD type = GetFileType(existing);
        if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) {
            handle_ = reinterpret_cast<intptr_t>(existing);
            direct_ = true;
            temporary_ = path;
            return true;
        }
        CloseHandle(existing);
    }
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error_ = {FailureKind::Other, "cannot write " + path + ": it is a folder", EISDIR};
        if (error) *error = error_;
        return false;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = path + "." + RandomWord() + ".tmp";
        const HANDLE h = CreateFileW(ToWide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(h);
            temporary_ = name;
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    return Refuse("cannot write", path, error);
}

bool SafeOutput::Write(std::string_view bytes) {
    if (new_mode_) return WriteNew(bytes);
    if (error_) return false;
    if (handle_ == -1) {
        error_ = {FailureKind::Other, "cannot write " + path_ + ": it is not open", EBADF};
        return false;
    }
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!WriteFile(H(handle_), bytes.data(), chunk, &written, nullptr))
            return Fail("cannot write", path_);
        bytes.remove_prefix(written);
    }
    return true;
}

bool SafeOutput::Commit(Failure* error) {
    if (handle_ == -1 && !error_)
        error_ = {FailureKind::Other, "cannot write " + path_ + ": it is not open", EBADF};
    if (!error_ && !direct_ && !FlushFileBuffers(H(handle_))) Fail("cannot write to disk", path_);
    if (handle_ != -1) {
        CloseHandle(H(handle_));
        handle_ = -1;
    }
    if (!error_ && !direct_) {
        if (!MoveFileExW(ToWide(temporary_).c_str(), ToWide(target_).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            Fail("cannot put the written file in place as", path_);
        } else {
            temporary_.clear();
        }
    }
    const bool ok = !error_;
    if (!ok && error) *error = error_;
    Abandon();
    return ok;
}

void SafeOutput::Abandon() {
    if (new_mode_) return AbandonNew();
    if (handle_ != -1) CloseHandle(H(handle_));
    handle_ = -1;
    if (!direct_ && !temporary_.empty()) DeleteFileW(ToWide(temporary_).c_str());
    temporary_.clear();
    direct_ = false;
}

bool MakePrivateFolder(std::string_view prefix, std::string* folder, Failure* error) {
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::string root = n ? ToUtf8(std::wstring_view(base, n)) : std::string(".\\");
    if (!root.empty() && root.back() != '\\' && root.back() != '/') root += '\\';
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = root + std::string(prefix) + RandomWord();
        if (CreateDirectoryW(ToWide(name).c_str(), nullptr)) {
            *folder = name;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    const DWORD code = GetLastError();
    if (error)
        *error = {KindOfError(ErrnoOf(code)),
                  "cannot create a folder in " + root + ": " + SystemMessage(code) +
                      "; set TMP to a writable folder or name the file with --output",
                  ErrnoOf(code)};
    return false;
}

bool OpenUserFolder(std::string_view name, std::string* folder, Failure* error) {
    // The temporary folder of a Windows profile is the user's own.
    wchar_t base[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    std::string root = n ? ToUtf8(std::wstring_view(base, n)) : std::string(".\\");
    if (!root.empty() && root.back() != '\\' && root.back() != '/') root += '\\';
    const std::string path = root + std::string(name);
    if (!CreateDirectoryW(ToWide(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        const DWORD code = GetLastError();
        if (error)
            *error = {KindOfError(ErrnoOf(code)),
                      "cannot create the folder " + path + ": " + SystemMessage(code) +
                          "; set TMP to a writable folder",
                      ErrnoOf(code)};
        return false;
    }
    const DWORD attributes = GetFileAttributesW(ToWide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (error)
            *error = {FailureKind::Other, path + " is not a folder; remove it or set TMP to another folder",
                      0};
        return false;
    }
    *folder = path;
    return true;
}

}  // namespace korvel
