// SPDX-License-Identifier: MIT
// The event loop's watched descriptors (run under ThreadSanitizer).
// POSIX only: the descriptor is an eventfd; the Windows loop watches event handles instead.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

#include "platform/event_loop.h"

namespace korvel {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, WatchedDescriptorRunsItsHandlerWhenReadable) {
    EventLoop loop;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    int fired = 0;
    loop.WatchFd(fd, [&] {
        uint64_t v;
        [[maybe_unused]] ssize_t n = ::read(fd, &v, sizeof v);
        ++fired;
    });
    std::thread writer([fd] {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    });
    EXPECT_TRUE(loop.RunUntil([&] { return fired == 1; }, 10s));
    writer.join();
    loop.UnwatchFd(fd);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    loop.RunOnce(1ms);
    EXPECT_EQ(fired, 1);
    ::close(fd);
}

}  // namespace
}  // namespace korvel
