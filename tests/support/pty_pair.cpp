// SPDX-License-Identifier: MIT
#include "support/pty_pair.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace korvel::testing {

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        ADD_FAILURE() << "openpty failed: " << std::strerror(errno);
        master = slave = -1;
        return;
    }
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slave_path = name;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (slave >= 0) ::close(slave);
}

void PtyPair::CloseMaster() {
    if (master >= 0) ::close(master);
    master = -1;
}

bool PtyPair::WriteAll(const void* bytes, size_t length) {
    auto p = static_cast<const uint8_t*>(bytes);
    while (length > 0) {
        ssize_t n = ::write(master, p, length);
        if (n > 0) {
            p += n;
            length -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd pfd{master, POLLOUT, 0};
            if (::poll(&pfd, 1, 5000) <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

std::vector<uint8_t> PtyPair::Read(size_t n, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                          std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        uint8_t buf[4096];
        ssize_t got = ::read(master, buf, std::min(sizeof buf, n - out.size()));
        if (got > 0)
            out.insert(out.end(), buf, buf + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return out;
}

int PtyPair::SlaveQueued() const {
    int queued = -1;
    ::ioctl(slave, TIOCINQ, &queued);
    return queued;
}

namespace {

int CountEntries(const char* dir) {
    DIR* d = ::opendir(dir);
    if (!d) return -1;
    int n = 0;
    while (dirent* e = ::readdir(d))
        if (e->d_name[0] != '.') ++n;
    ::closedir(d);
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
