// SPDX-License-Identifier: MIT
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "serial/port.h"
#include "serial/reader_hand_over.h"
#include "serial/termios2.h"
#include "text/failure_texts.h"

namespace korvel {
namespace {

constexpr int kMaxChunk = ReaderHandOver::kMaxChunk;

speed_t StandardSpeed(uint32_t baud) {
    switch (baud) {
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        case 2000000:
            return B2000000;
        case 4000000:
            return B4000000;
        default:
            return B0;
    }
}

bool IsGoneError(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

class PosixPort final : public Port {
  public:
    PosixPort(int fd, int wake_fd) : fd_(fd), wake_fd_(wake_fd) {}
    ~PosixPort() override { Close(); }

    bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) override {
        if (closed_ || reader_.joinable() || !post) return false;
        hand_over_.SetHandlers(std::move(on_data), std::move(on_lost));
        try {
            reader_ = std::thread([this, post = std::move(post)] { ReaderLoop(post); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }

    void SetDtr(bool raised) override {
        if (closed_) return;
        int bits = TIOCM_DTR;
        // Pseudo-terminals have no modem lines (ENOTTY/EINVAL); that is not an error.
        [[maybe_unused]] int r = ::ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits);
    }

    void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) override {
        if (closed_) return;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::write(fd_, bytes + done, length - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno != EAGAIN) return;  // a failed write is not retried, as on the device's side
            auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return;
            pollfd pfd{fd_, POLLOUT, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) return;
            if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) return;
        }
    }

    void Close() override {
        if (closed_) return;
        closed_ = true;
        hand_over_.BeginClose();
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t w = ::write(wake_fd_, &one, sizeof one);
        int bits = TIOCM_DTR;
        [[maybe_unused]] int r = ::ioctl(fd_, TIOCMBIC, &bits);
        ::tcflush(fd_, TCIOFLUSH);
        // The reader never waits for this thread once `closing` is set, so the join cannot deadlock.
        if (reader_.joinable()) reader_.join();
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
        ::close(wake_fd_);
    }

  private:
    void ReaderLoop(const UiPost& post) {
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                hand_over_.ReportLost(post);
                return;
            }
            if (fds[1].revents) return;  // closing
            const short port_events = fds[0].revents;
            if (!port_events) continue;
            if (port_events & POLLNVAL) {
                hand_over_.ReportLost(post);
                return;
            }
            // Drain what the driver holds, at most 255 bytes per chunk.
            bool delivered = false;
            for (;;) {
                int queued = 0;
                if (::ioctl(fd_, TIOCINQ, &queued) != 0 || queued <= 0) {
                    if (delivered) break;
                    queued = kMaxChunk;  // nothing counted: the read tells data, end of file or an error
                }
                ssize_t n =
                    ::read(fd_, hand_over_.Buffer(), static_cast<size_t>(std::min(queued, kMaxChunk)));
                if (n > 0) {
                    delivered = true;
                    if (!hand_over_.HandOver(post, static_cast<int>(n))) return;
                    continue;
                }
                if (n == 0 || IsGoneError(errno) || (port_events & (POLLHUP | POLLERR))) {
                    if (delivered) break;  // hand over what came before the hang-up first
                    hand_over_.ReportLost(post);
                    return;
                }
                break;  // EAGAIN or a line error: cleared, wait for the next data
            }
        }
    }

    int fd_;
    int wake_fd_;
    bool closed_ = false;
    ReaderHandOver hand_over_;
    std::thread reader_;
};

std::string ProcessName(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

Failure Fail(FailureKind kind, std::string message) { return {kind, std::move(message)}; }

std::unique_ptr<Port> CloseAndFail(int fd, Failure& failure, Failure why) {
    ::close(fd);
    failure = std::move(why);
    return nullptr;
}

}  // namespace

std::vector<std::string> FindPortHolders(const std::string& path) {
    std::vector<std::string> holders;
    struct stat target {};
    if (::stat(path.c_str(), &target) != 0) return holders;
    DIR* proc = ::opendir("/proc");
    if (!proc) return holders;
    while (dirent* entry = ::readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::string fd_dir = "/proc/" + pid + "/fd";
        DIR* fds = ::opendir(fd_dir.c_str());
        if (!fds) continue;  // gone, or not ours to look at
        bool holds = false;
        while (dirent* fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            struct stat st {};
            if (::stat((fd_dir + "/" + fd->d_name).c_str(), &st) != 0) continue;
            const bool same = S_ISCHR(target.st_mode)
                                  ? S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev
                                  : st.st_dev == target.st_dev && st.st_ino == target.st_ino;
            if (same) {
                holds = true;
                break;
            }
        }
        ::closedir(fds);
        if (holds) holders.push_back(pid + " (" + ProcessName(pid) + ")");
    }
    ::closedir(proc);
    return holders;
}

Failure DescribeOpenError(int error, const std::string& path) {
    // flock answers a held lock with EWOULDBLOCK: another program has the port.
    Failure failure = SystemFailure(error == EWOULDBLOCK ? EBUSY : error, "cannot open " + path);
    switch (failure.kind) {
        case FailureKind::Absent:
            failure.message = failure_text::PortAbsent(path);
            break;
        case FailureKind::PermissionDenied: {
            std::string owner = "dialout";
            struct stat st {};
            if (::stat(path.c_str(), &st) == 0) {
                if (const struct group* g = ::getgrgid(st.st_gid))
                    owner = g->gr_name;
                else
                    owner = std::to_string(st.st_gid);
            }
            failure.message = failure_text::PortNotPermitted(path, owner);
            break;
        }
        case FailureKind::Busy: {
            std::string list;
            for (const auto& h : FindPortHolders(path)) list += (list.empty() ? "" : ", ") + h;
            failure.message =
                list.empty() ? failure_text::PortBusy(path) : failure_text::PortHeldBy(path, list);
            break;
        }
        default:
            break;  // "cannot open <path>: <the system's words>"
    }
    return failure;
}

std::unique_ptr<Port> OpenSystemPort(const std::string& path, uint32_t baud, Failure& failure) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = DescribeOpenError(errno, path);
        return nullptr;
    }
    // flock also holds against root, which TIOCEXCL does not: two programs never split one port's bytes.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);  // first, so that this very attempt is not named among the holders
        failure = DescribeOpenError(error, path);
        return nullptr;
    }
    [[maybe_unused]] int excl = ::ioctl(fd, TIOCEXCL);  // ENOTTY/EINVAL: no exclusive mode here; flock holds

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return CloseAndFail(fd, failure, Fail(FailureKind::NotSerial, failure_text::PortNotSerial(path)));
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = StandardSpeed(baud);
    ::cfsetispeed(&tio, speed == B0 ? B38400 : speed);
    ::cfsetospeed(&tio, speed == B0 ? B38400 : speed);
    const std::string refused = failure_text::PortRefusedRate(path, baud);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0 || (speed == B0 && !SetLineRate(fd, baud))) {
        ::ioctl(fd, TIOCNXCL);
        return CloseAndFail(fd, failure, Fail(FailureKind::Settings, refused));
    }
    ::tcflush(fd, TCIOFLUSH);

    const int wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) {
        Failure why = LastSystemFailure("cannot open " + path);
        ::ioctl(fd, TIOCNXCL);
        return CloseAndFail(fd, failure, std::move(why));
    }
    return std::make_unique<PosixPort>(fd, wake_fd);
}

}  // namespace korvel
