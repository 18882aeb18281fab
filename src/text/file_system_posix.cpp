// SPDX-License-Identifier: MIT
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/file_system.h"

namespace korvel {
namespace {

bool Fail(Failure* error, const char* what, const std::string& path) {
    if (error) *error = LastSystemFailure(std::string(what) + " " + path);
    return false;
}

EntryType TypeOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryType::kFile;
    if (S_ISDIR(mode)) return EntryType::kDirectory;
    if (S_ISLNK(mode)) return EntryType::kSymlink;
    return EntryType::kOther;
}

}  // namespace

bool RenameFile(const std::string& from, const std::string& to, Failure* error) {
    if (::rename(from.c_str(), to.c_str()) != 0) return Fail(error, "cannot rename", from + " to " + to);
    return true;
}

bool LinkFile(const std::string& from, const std::string& to, Failure* error) {
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    // File systems without hard links (FAT): a rename that first makes sure the name is free. Another
    // writer could take the name in between; two downloads of one device in one folder at one moment
    // are what the next free second avoids, not what this can rule out.
    if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS) {
        if (FileExists(to)) {
            errno = EEXIST;
            return Fail(error, "cannot name", to);
        }
        // The copy under `from` goes with the rename; the caller's removal of it then finds nothing.
        if (::rename(from.c_str(), to.c_str()) == 0) return true;
    }
    return Fail(error, "cannot name", from + " as " + to);
}

bool RemoveFile(const std::string& path, Failure* error) {
    if (::unlink(path.c_str()) != 0) return Fail(error, "cannot delete", path);
    return true;
}

bool MakeDirectory(const std::string& path, Failure* error) {
    if (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path))) return true;
    return Fail(error, "cannot create the folder", path);
}

bool SyncDirectory(const std::string& path, Failure* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Fail(error, "cannot open the folder", path);
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync folders
    if (!ok) Fail(error, "cannot write to disk the folder", path);
    ::close(fd);
    return ok;
}

bool ListDirectory(const std::string& path, std::vector<DirectoryEntry>& entries, Failure* error) {
    entries.clear();
    DIR* dir = ::opendir(path.c_str());
    if (dir == nullptr) return Fail(error, "cannot list the folder", path);
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        EntryType type = EntryType::kOther;
        switch (e->d_type) {
            case DT_REG:
                type = EntryType::kFile;
                break;
            case DT_DIR:
                type = EntryType::kDirectory;
                break;
            case DT_LNK:
                type = EntryType::kSymlink;
                break;
            case DT_UNKNOWN: {
                // Some file systems leave the type out; ask for it without following a link.
                struct stat st {};
                if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    type = TypeOf(st.st_mode);
                break;
            }
            default:
                break;
        }
        entries.push_back({name, type});
        errno = 0;
    }
    const bool ok = errno == 0;
    if (!ok) Fail(error, "cannot list the folder", path);
    ::closedir(dir);
    return ok;
}

std::string_view PathSeparators() { return "/"; }

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

Failure FolderReadProblem(const std::string& folder) {
    const std::string what = "cannot read the folder " + folder;
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    if (errno == ENOTDIR) return {FailureKind::Other, what + ": not a folder", ENOTDIR, "not a folder"};
    return LastSystemFailure(what);
}

Failure FolderProblem(const std::string& folder) {
    const std::string what = "cannot create files in " + folder;
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0) return LastSystemFailure(what);
    if (!S_ISDIR(st.st_mode)) return {FailureKind::Other, what + ": not a folder", ENOTDIR, "not a folder"};
    // An unnamed file: nothing appears in the folder, not even for a moment.
    int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd >= 0) {
        close(fd);
        return {};
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return LastSystemFailure(what);
    // File systems without unnamed files: a probe whose name can never look like a record file's.
    std::string probe = folder + "/.korvel-cli-probe-XXXXXX";
    fd = mkstemp(probe.data());
    if (fd < 0) return LastSystemFailure(what);
    close(fd);
    unlink(probe.c_str());
    return {};
}

std::optional<uint64_t> FreeSpace(const std::string& folder) {
    struct statvfs fs {};
    if (statvfs(folder.c_str(), &fs) != 0) return std::nullopt;
    return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

}  // namespace korvel
