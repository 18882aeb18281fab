// SPDX-License-Identifier: MIT
#include "support/pty.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace korvel::testing {
namespace {

using SteadyClock = std::chrono::steady_clock;

bool MakeRaw(int fd, std::string* error) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        if (error) *error = std::string("tcgetattr: ") + std::strerror(errno);
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (error) *error = std::string("tcsetattr: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool IsMachineSerialPort(const std::string& path) {
    for (const char* prefix : {"/dev/ttyS", "/dev/ttyUSB", "/dev/ttyACM"})
        if (path.rfind(prefix, 0) == 0) return true;
    return false;
}

}  // namespace

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
}

UniqueFd OpenRawTty(const std::string& path, std::string* error) {
    // The machine's own ports may be its console: a test must never touch their settings.
    if (IsMachineSerialPort(path)) {
        if (error) *error = path + " is a machine serial port; tests use pseudo-terminals only";
        return UniqueFd();
    }
    UniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        if (error) *error = "open " + path + ": " + std::strerror(errno);
        return fd;
    }
    if (!isatty(fd.get())) {
        if (error) *error = path + " is not a terminal";
        return UniqueFd();
    }
    if (!MakeRaw(fd.get(), error)) return UniqueFd();
    // Bytes the device sent before this client came are not meant for it.
    tcflush(fd.get(), TCIFLUSH);
    return fd;
}

int MillisLeft(SteadyClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool WriteAll(int fd, std::string_view bytes, std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes.remove_prefix(static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        pollfd p{fd, POLLOUT, 0};
        const int r = poll(&p, 1, MillisLeft(deadline));
        if (r == 0) return false;
        if (r < 0 && errno != EINTR) return false;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
    }
    return true;
}

ReadStatus TtyReader::Fill(SteadyClock::time_point deadline) {
    for (;;) {
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n > 0) {
            buffer_.append(buf, static_cast<size_t>(n));
            bytes_read_ += static_cast<size_t>(n);
            ++reads_;
            return status_ = ReadStatus::kOk;
        }
        if (n == 0 || (n < 0 && errno == EIO)) return status_ = ReadStatus::kHangup;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return status_ = ReadStatus::kError;
        pollfd p{fd_, POLLIN, 0};
        const int r = poll(&p, 1, MillisLeft(deadline));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return status_ = ReadStatus::kError;
        if (r == 0) return status_ = ReadStatus::kTimeout;
        if (p.revents & POLLNVAL) return status_ = ReadStatus::kError;
        if ((p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN)) return status_ = ReadStatus::kHangup;
    }
}

std::optional<std::string> TtyReader::ReadLine(std::chrono::milliseconds timeout, bool keep_cr) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    size_t searched = 0;
    for (;;) {
        const size_t lf = buffer_.find('\n', searched);
        if (lf != std::string::npos) {
            std::string line = buffer_.substr(0, lf);
            buffer_.erase(0, lf + 1);
            if (!keep_cr && !line.empty() && line.back() == '\r') line.pop_back();
            status_ = ReadStatus::kOk;
            return line;
        }
        searched = buffer_.size();
        if (Fill(deadline) != ReadStatus::kOk) return std::nullopt;
    }
}

std::optional<std::vector<std::string>> TtyReader::ReadReply(std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    std::vector<std::string> lines;
    for (;;) {
        std::optional<std::string> line = ReadLine(std::chrono::milliseconds(MillisLeft(deadline)));
        if (!line) return std::nullopt;
        if (!line->empty() && line->front() == '#') {
            messages_.push_back(*line);
            continue;
        }
        if (line->empty() && !lines.empty()) return lines;
        lines.push_back(std::move(*line));
    }
}

std::string TtyReader::ReadBytes(size_t count, std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    while (buffer_.size() < count && Fill(deadline) == ReadStatus::kOk) {
    }
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, out.size());
    return out;
}

std::string TtyReader::Drain(std::chrono::milliseconds quiet) {
    const SteadyClock::time_point deadline = SteadyClock::now() + quiet;
    while (Fill(deadline) == ReadStatus::kOk) {
    }
    std::string out;
    out.swap(buffer_);
    return out;
}

bool TtyReader::WaitForHangup(std::chrono::milliseconds timeout) {
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    for (;;) {
        const ReadStatus s = Fill(deadline);
        if (s == ReadStatus::kHangup) return true;
        if (s != ReadStatus::kOk) return false;
        buffer_.clear();
    }
}

std::optional<std::vector<std::string>> Exchange(int fd, TtyReader& reader, std::string_view command,
                                                 std::chrono::milliseconds timeout) {
    std::string line(command);
    line.push_back('\n');
    if (!WriteAll(fd, line, timeout)) return std::nullopt;
    return reader.ReadReply(timeout);
}

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &slave, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed: " << std::strerror(errno);
        master = slave = -1;
        return;
    }
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    slave_path = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave >= 0) close(slave);
}

void PtyPair::CloseMaster() {
    if (master >= 0) close(master);
    master = -1;
}

bool PtyPair::WriteAll(const void* bytes, size_t length) {
    return testing::WriteAll(master, std::string_view(static_cast<const char*>(bytes), length));
}

std::vector<uint8_t> PtyPair::Read(size_t n, std::chrono::milliseconds timeout) {
    // Never more than n: what comes after stays for the next call.
    std::vector<uint8_t> out;
    const SteadyClock::time_point deadline = SteadyClock::now() + timeout;
    while (out.size() < n) {
        pollfd pfd{master, POLLIN, 0};
        if (poll(&pfd, 1, MillisLeft(deadline)) <= 0) break;
        uint8_t buffer[4096];
        const ssize_t got = read(master, buffer, std::min(sizeof buffer, n - out.size()));
        if (got > 0)
            out.insert(out.end(), buffer, buffer + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

int PtyPair::SlaveQueued() const {
    int queued = -1;
    ioctl(slave, TIOCINQ, &queued);
    return queued;
}

namespace {

int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

}  // namespace

// Less the descriptor of the directory being read.
int CountOpenFds() { return CountEntries("/proc/self/fd") - 1; }
int CountThreads() {
    // ThreadSanitizer starts a helper thread of its own along with the first thread a program creates:
    // it is made to start before the first count, so counts taken before and after agree.
    static const bool settled = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)settled;
    return CountEntries("/proc/self/task");
}

}  // namespace korvel::testing
