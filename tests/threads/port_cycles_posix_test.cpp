// SPDX-License-Identifier: MIT
// Opening and closing a real port while data streams: no deadlock, leak or stale data (ThreadSanitizer).
// POSIX only: the port is a pseudo-terminal, which Windows (and Wine) has not.
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>
#include <thread>

#include "platform/event_loop.h"
#include "serial/port.h"
#include "support/pty.h"

namespace korvel {
namespace {

using namespace std::chrono_literals;

struct CycleState {
    bool current = true;
    bool got = false;
    Port* port = nullptr;
};

constexpr int kCycles = 1000;

// Open, hand over, close and reopen while the device streams without pause. Each cycle ends its port
// another way: at once (a hand-over may be pending), after a chunk, or from inside the data handler.
TEST(PortCycles, OpenCloseReopenWhileDataStreamsNeverDeadlocksLeaksOrDeliversStaleData) {
    testing::PtyPair pty;
    ASSERT_GE(pty.master, 0);
    EventLoop loop;
    const int fds_before = testing::CountOpenFds();
    const int threads_before = testing::CountThreads();

    std::atomic<bool> stop{false};
    std::thread device([&] {
        uint8_t block[97];
        for (uint8_t i = 0; !stop; ++i) {
            for (auto& b : block) b = i;
            // A full input queue (no port open, or a busy handler) simply makes the device wait.
            [[maybe_unused]] ssize_t n = ::write(pty.master, block, sizeof block);
            std::this_thread::yield();
        }
    });

    int stale = 0;
    int delivered = 0;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        Failure failure;
        std::unique_ptr<Port> port = OpenSerialPort(pty.slave_path, 115200, failure);
        ASSERT_TRUE(port) << "cycle " << cycle << ": " << failure.message;
        // Owned by the handler too, so a stale hand-over would still find it and be counted.
        auto state = std::make_shared<CycleState>();
        state->port = port.get();
        ASSERT_TRUE(port->StartReader(
            loop.Poster(),
            [&, state, cycle](const uint8_t*, int count) {
                if (!state->current) ++stale;
                delivered += count;
                state->got = true;
                if (cycle % 3 == 2) state->port->Close();  // the handler closes its own port
            },
            [] {}));
        if (cycle % 3 != 0) {
            EXPECT_TRUE(loop.RunUntil([&] { return state->got; }, 10s)) << "cycle " << cycle;
        }
        port->Close();
        state->current = false;
        port.reset();
        loop.RunOnce(0ms);  // hand-overs still queued from this port must be no-ops
    }
    stop = true;
    device.join();

    EXPECT_EQ(stale, 0);
    EXPECT_GT(delivered, 0);
    EXPECT_EQ(testing::CountOpenFds(), fds_before);
    EXPECT_EQ(testing::CountThreads(), threads_before);
}

}  // namespace
}  // namespace korvel
