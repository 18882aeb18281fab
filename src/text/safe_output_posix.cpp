// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "text/file_system.h"
#include "text/safe_output.h"

namespace korvel {
namespace {

// The temporary file an interrupt removes. One output is written at a time; the handler reads only
// this fixed buffer, so it stays async-signal-safe.
char g_pending[PATH_MAX];
volatile sig_atomic_t g_has_pending = 0;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

void RemovePending(int signal) {
    if (g_has_pending) ::unlink(g_pending);
    g_has_pending = 0;
    // Ends the process as the signal would have: the shell sees 128 + the signal's number.
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, signal);
    pthread_sigmask(SIG_UNBLOCK, &mask, nullptr);
    ::raise(signal);
}

void Guard(const std::string& temporary) {
    if (temporary.size() >= sizeof g_pending) return;
    std::memcpy(g_pending, temporary.c_str(), temporary.size() + 1);
    g_has_pending = 1;
    struct sigaction action {};
    action.sa_handler = RemovePending;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) sigaddset(&action.sa_mask, s);
    for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &g_previous[i]);
}

void Unguard() {
    if (!g_has_pending) return;
    for (size_t i = 0; i < 3; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    g_has_pending = 0;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

mode_t NewFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool SafeOutput::Open(const std::string& path, Failure* error) {
    Abandon();
    new_mode_ = false;
    error_ = {};
    path_ = target_ = path;
    struct stat info {};
    bool exists = false;
    // Links are followed one by one, so a link that leads nowhere yet names the file to create.
    for (int hops = 0;; ++hops) {
        if (::lstat(target_.c_str(), &info) != 0) {
            if (errno != ENOENT) return Refuse("cannot write", path, error);
            break;
        }
        if (!S_ISLNK(info.st_mode)) {
            exists = true;
            break;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(target_.c_str(), link, sizeof link - 1);
        if (n < 0 || hops >= 40) {
            if (n >= 0) errno = ELOOP;
            return Refuse("cannot write", path, error);
        }
        const std::string to(link, static_cast<size_t>(n));
        target_ = !to.empty() && to[0] == '/' ? to : FolderOf(target_) + "/" + to;
    }
    if (exists && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))) {
        const int fd = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return Refuse("cannot write", path, error);
        handle_ = fd;
        direct_ = true;
        temporary_ = target_;
        return true;
    }
    if (exists && !S_ISREG(info.st_mode)) {
        error_ = {
            FailureKind::Other,
            "cannot write " + path + ": " +
                (S_ISDIR(info.st_mode) ? "it is a folder" : "it is neither a file, a pipe nor a terminal"),
            EINVAL};
        if (error) *error = error_;
        return false;
    }
    std::string pattern = FolderOf(target_) + "/." + NameOf(target_) + ".XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return Refuse("cannot write", path, error);
    temporary_ = pattern;
    handle_ = fd;
    Guard(temporary_);
    // The new file gets what the old one had: its owner where this user may give it, and its mode.
    if (exists) {
        [[maybe_unused]] const int ignored = ::fchown(fd, info.st_uid, info.st_gid);
    }
    if (::fchmod(fd, exists ? (info.st_mode & 07777) : NewFileMode()) != 0)
        return Refuse("cannot set the mode of", temporary_, error);
    return true;
}

bool SafeOutput::Write(std::string_view bytes) {
    if (new_mode_) return WriteNew(bytes);
    if (error_) return false;
    if (handle_ < 0) {
        error_ = {FailureKind::Other, "cannot write " + path_ + ": it is not open", EBADF};
        return false;
    }
    const auto fd = static_cast<int>(handle_);
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return Fail("cannot write", path_);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool SafeOutput::Commit(Failure* error) {
    if (handle_ < 0 && !error_)
        error_ = {FailureKind::Other, "cannot write " + path_ + ": it is not open", EBADF};
    const auto fd = static_cast<int>(handle_);
    if (!error_ && !direct_ && ::fsync(fd) != 0 && errno != EINVAL) Fail("cannot write to disk", path_);
    if (handle_ >= 0) {
        if (::close(fd) != 0 && !error_ && errno != EINTR) Fail("cannot write", path_);
        handle_ = -1;
    }
    if (!error_ && !direct_) {
        if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
            Fail("cannot put the written file in place as", path_);
        } else {
            Unguard();
            temporary_.clear();
            SyncDirectory(FolderOf(target_));
        }
    }
    const bool ok = !error_;
    if (!ok && error) *error = error_;
    Abandon();
    return ok;
}

void SafeOutput::Abandon() {
    if (new_mode_) return AbandonNew();
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    // With the signals held, an interrupt cannot come between the removal and the handlers' going.
    sigset_t all, before;
    sigemptyset(&all);
    for (int s : kSignals) sigaddset(&all, s);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    if (!direct_ && !temporary_.empty()) ::unlink(temporary_.c_str());
    Unguard();
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    temporary_.clear();
    direct_ = false;
}

bool MakePrivateFolder(std::string_view prefix, std::string* folder, Failure* error) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        (base && *base ? std::string(base) : std::string("/tmp")) + "/" + std::string(prefix) + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        if (error) {
            *error = LastSystemFailure("cannot create a folder in " + FolderOf(pattern));
            error->message += "; set TMPDIR to a writable folder or name the file with --output";
        }
        return false;
    }
    *folder = pattern;
    return true;
}

bool OpenUserFolder(std::string_view name, std::string* folder, Failure* error) {
    const char* base = std::getenv("TMPDIR");
    const std::string path = (base && *base ? std::string(base) : std::string("/tmp")) + "/" +
                             std::string(name) + "-" + std::to_string(::geteuid());
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        if (error) {
            *error = LastSystemFailure("cannot create the folder " + path);
            error->message += "; set TMPDIR to a writable folder";
        }
        return false;
    }
    // Made now or before: it must be a folder (not a link to one) of this user that nobody else may enter.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0) {
        if (error)
            *error = {
                FailureKind::Other,
                path + " is not a folder of this user's alone; remove it or set TMPDIR to another folder",
                EACCES};
        return false;
    }
    *folder = path;
    return true;
}

}  // namespace korvel
