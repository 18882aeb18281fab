// SPDX-License-Identifier: MIT
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>

#include "records/record_fs.h"

namespace korvel::recfs {
namespace {

std::error_code LastError() { return {errno, std::generic_category()}; }

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// A name that no record file pattern ("-N-hex.txt") can match: it has no ".txt" in it.
std::string PartialName() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::minstd_rand random{std::random_device{}()};
    std::string name = ".korvel-partial-";
    for (int i = 0; i < 6; ++i) name += kChars[random() % (sizeof kChars - 1)];
    return name;
}

}  // namespace

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string ProfileFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::string buffer(16384, '\0');
    struct passwd pw {};
    struct passwd* result = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &result) == 0 && result && pw.pw_dir)
        return pw.pw_dir;
    return {};
}

std::string ProgramFolder() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
    path.resize(static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash);
    return path;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

std::error_code WriteFileAtomically(const std::string& folder, const std::string& name,
                                    const std::function<bool(std::string_view* piece)>& next_piece) {
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = folder + "/" + PartialName();
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return LastError();
    }
    if (fd < 0) return std::make_error_code(std::errc::file_exists);

    std::error_code error;
    std::string_view piece;
    while (!error && next_piece(&piece))
        if (!WriteAll(fd, piece)) error = LastError();
    if (!error && ::fsync(fd) != 0) error = LastError();
    if (::close(fd) != 0 && !error) error = LastError();
    if (!error && ::rename(temp.c_str(), (folder + "/" + name).c_str()) != 0) error = LastError();
    if (error) {
        ::unlink(temp.c_str());
        return error;
    }
    // The rename itself reaches the disk with the folder.
    if (int dir = ::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

bool ListFolder(const std::string& path, const std::function<void(const Entry&)>& visit) {
    DIR* dir = ::opendir(path.empty() ? "/" : path.c_str());
    if (!dir) return false;
    while (const dirent* entry = ::readdir(dir)) {
        std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool is_directory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            is_directory =
                ::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        // A link to a directory is neither descended into nor read as a file.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat st {};
            if (!is_directory && ::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
                continue;
        }
        visit(Entry{name, is_directory});
    }
    ::closedir(dir);
    return true;
}

// Non-blocking, so a pipe that carries a record file name cannot hang the scan.
ReadFile::ReadFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}

ReadFile::~ReadFile() {
    if (fd_ >= 0) ::close(fd_);
}

int64_t ReadFile::Length() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
}

int64_t ReadFile::ReadAt(int64_t offset, char* buffer, size_t size) const {
    size_t total = 0;
    while (total < size) {
        ssize_t n = ::pread(fd_, buffer + total, size - total,
                            static_cast<off_t>(offset) + static_cast<off_t>(total));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        total += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(total);
}

}  // namespace korvel::recfs
