// SPDX-License-Identifier: MIT
// The user-interface thread of the command-line front end and of the tests: a loop on the calling
// thread that runs posted functions in order, periodic timers and watched file descriptors.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui_post.h"

namespace korvel {

class EventLoop {
  public:
    using Task = std::function<void()>;
    using Duration = std::chrono::steady_clock::duration;

    // Throws std::runtime_error when the system gives no wake-up descriptor (no descriptors left): the
    // one failure that is thrown, since no front end can run without its loop.
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // From any thread, never blocks. Tasks run in the order they were posted. A task posted after the
    // loop is gone is dropped.
    void Post(Task task);
    UiPost Poster();

    // The loop's own thread only. Restarting a running timer restarts its period.
    void StartTimer(int id, Duration period, Task on_tick);
    void StopTimer(int id);
    bool TimerRunning(int id) const { return timers_.count(id) != 0; }

    // Runs on_readable whenever fd is readable (or hung up) until unwatched.
    void WatchFd(int fd, Task on_readable);
    void UnwatchFd(int fd);

    // Runs until Quit() (callable from any thread); a Quit() before Run() makes it return at once.
    void Run();
    void Quit();
    // Runs until done() holds or timeout passes; returns done().
    bool RunUntil(const std::function<bool()>& done, Duration timeout);
    // One round: waits at most max_wait for something to do, then does everything that is due.
    void RunOnce(Duration max_wait);

  private:
    struct Shared;
    struct Timer {
        Duration period;
        std::chrono::steady_clock::time_point due;
        Task on_tick;
    };

    std::shared_ptr<Shared> shared_;
    std::map<int, Timer> timers_;
    std::map<int, Task> watches_;
};

}  // namespace korvel
