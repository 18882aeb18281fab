// SPDX-License-Identifier: MIT
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/loop_waiter.h"

namespace korvel {

// An eventfd wakes the loop's poll(): a condition variable could not wait on the watched descriptors too.
LoopWaiter::LoopWaiter() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (wake_ < 0)
        throw std::runtime_error(std::string("cannot create the event loop's wake-up descriptor: ") +
                                 std::strerror(errno) + "; close other programs and try again");
}

LoopWaiter::~LoopWaiter() { ::close(static_cast<int>(wake_)); }

void LoopWaiter::Wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(static_cast<int>(wake_), &one, sizeof one);
}

std::vector<int> LoopWaiter::Wait(const std::vector<int>& watched, std::chrono::milliseconds timeout) {
    std::vector<pollfd> fds;
    fds.push_back({static_cast<int>(wake_), POLLIN, 0});
    for (int fd : watched) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), static_cast<int>(timeout.count())) < 0) return {};  // EINTR: a round
    if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(static_cast<int>(wake_), &count, sizeof count);
    }
    std::vector<int> ready;
    for (size_t i = 1; i < fds.size(); ++i)
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) ready.push_back(fds[i].fd);
    return ready;
}

}  // namespace korvel
