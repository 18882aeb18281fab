// SPDX-License-Identifier: MIT
// The event loop: posting from many threads, timers (run under ThreadSanitizer). Watched descriptors are
// in event_loop_posix_test.cpp.
#include "platform/event_loop.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvel {
namespace {

using namespace std::chrono_literals;

TEST(EventLoop, TasksPostedFromManyThreadsAllRunInEachThreadsOrder) {
    EventLoop loop;
    constexpr int kThreads = 4, kEach = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    int total = 0;
    std::vector<std::thread> posters;
    for (int t = 0; t < kThreads; ++t)
        posters.emplace_back([&, t, post = loop.Poster()] {
            for (int i = 0; i < kEach; ++i)
                post([&, t, i] {
                    seen[t].push_back(i);
                    ++total;
                });
        });
    EXPECT_TRUE(loop.RunUntil([&] { return total == kThreads * kEach; }, 20s));
    for (auto& p : posters) p.join();
    for (const auto& s : seen) {
        ASSERT_EQ(s.size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(s[i], i);
    }
}

TEST(EventLoop, PostingAfterTheLoopIsGoneIsHarmless) {
    UiPost post;
    {
        EventLoop loop;
        post = loop.Poster();
    }
    bool ran = false;
    post([&] { ran = true; });
    EXPECT_FALSE(ran);
}

TEST(EventLoop, TimersTickUntilStoppedAndQuitEndsRun) {
    EventLoop loop;
    int ticks = 0, other = 0;
    loop.StartTimer(1, 1ms, [&] {
        if (++ticks == 5) loop.StopTimer(1);
    });
    loop.StartTimer(2, 1ms, [&] { ++other; });
    EXPECT_TRUE(loop.RunUntil([&] { return ticks == 5 && other >= 10; }, 10s));
    EXPECT_FALSE(loop.TimerRunning(1));
    loop.StopTimer(2);
    loop.RunOnce(5ms);
    EXPECT_EQ(ticks, 5);

    std::thread quitter([&] { loop.Quit(); });
    loop.Run();  // returns although nothing else is due, also when the Quit() came first
    quitter.join();
    loop.Quit();
    loop.Run();
}

// The heartbeat after a stall (a handler that took long) goes on at its pace: missed ticks are not
// delivered in a burst. What may come after the stall is bounded by the time that passed since it (a
// loaded machine may take a period or more for the few turns below), never by the ten periods missed.
TEST(EventLoop, TicksMissedDuringAStallAreNotCaughtUp) {
    EventLoop loop;
    int ticks = 0;
    std::chrono::steady_clock::time_point stall_end;
    loop.StartTimer(1, 20ms, [&] {
        if (++ticks == 1) {
            std::this_thread::sleep_for(200ms);  // the stall: ten periods
            stall_end = std::chrono::steady_clock::now();
        }
    });
    ASSERT_TRUE(loop.RunUntil([&] { return ticks >= 1; }, 10s));
    for (int i = 0; i < 5; ++i) loop.RunOnce(0ms);
    const auto periods_since = (std::chrono::steady_clock::now() - stall_end) / 20ms;
    EXPECT_LE(ticks, 2 + periods_since) << periods_since << " periods passed after the stall";
}

}  // namespace
}  // namespace korvel
