// SPDX-License-Identifier: MIT
// The few folder and file operations besides reading and writing: what the record files need to be
// replaced safely and found again. OS calls in file_system_posix.cpp and file_system_win.cpp.
// (Names avoid DeleteFile/CreateDirectory, which the Windows headers turn into macros.)
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "text/cfile.h"

namespace korvel {

enum class EntryType { kFile, kDirectory, kSymlink, kOther };

struct DirectoryEntry {
    std::string name;  // without the folder, never "." or ".."
    EntryType type;    // of the entry itself: a symbolic link is reported as kSymlink, not followed
};

// Each returns false on failure and then fills `error`, when given.
bool RenameFile(const std::string& from, const std::string& to, Failure* error = nullptr);  // replaces `to`
// Gives the file at `from` the further name `to`, which must be free (EEXIST otherwise); `from` stays.
bool LinkFile(const std::string& from, const std::string& to, Failure* error = nullptr);
bool RemoveFile(const std::string& path, Failure* error = nullptr);
bool MakeDirectory(const std::string& path, Failure* error = nullptr);  // true when it already exists
// Makes a rename inside `path` durable (fsync of the folder itself).
bool SyncDirectory(const std::string& path, Failure* error = nullptr);
bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, Failure* error = nullptr);

// The characters that end a folder name in a path; the first is the one this system writes.
std::string_view PathSeparators();

bool IsDirectory(const std::string& path);  // follows a symbolic link, like the shell's test -d
bool FileExists(const std::string& path);   // any kind of entry, a dangling link included

// Why folder cannot be read (kind None when it can): the system's words for the folder or one on its way
// ("Permission denied" is kind PermissionDenied, a missing folder kind Absent), or "not a folder".
Failure FolderReadProblem(const std::string& folder);

// Why record files cannot be created in folder (kind None when they can); its reason is the system's
// words, or "not a folder". Tried with a real file, so read-only mounts and quotas count too, and root
// is not waved through by the permission bits.
Failure FolderProblem(const std::string& folder);

// The bytes an unprivileged writer may still put in folder's file system, or nothing when unknown.
std::optional<uint64_t> FreeSpace(const std::string& folder);

}  // namespace korvel
