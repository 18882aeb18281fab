// SPDX-License-Identifier: MIT
#include "platform/event_loop.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>

#include "platform/loop_waiter.h"

namespace korvel {

// Kept alive by every poster, so a reader thread may post after the loop has gone.
struct EventLoop::Shared {
    std::mutex mutex;
    std::deque<Task> queue;
    bool alive = true;
    std::atomic<bool> quit{false};
    LoopWaiter waiter;

    void Push(Task task) {
        {
            std::lock_guard lock(mutex);
            if (!alive) return;
            queue.push_back(std::move(task));
        }
        waiter.Wake();
    }
};

EventLoop::EventLoop() : shared_(std::make_shared<Shared>()) {}

EventLoop::~EventLoop() {
    std::deque<Task> dropped;
    std::lock_guard lock(shared_->mutex);
    shared_->alive = false;
    dropped.swap(shared_->queue);  // destroyed after the unlock: a task's captures may post
}

void EventLoop::Post(Task task) { shared_->Push(std::move(task)); }

UiPost EventLoop::Poster() {
    return [shared = shared_](std::function<void()> task) { shared->Push(std::move(task)); };
}

void EventLoop::StartTimer(int id, Duration period, Task on_tick) {
    timers_[id] = Timer{period, std::chrono::steady_clock::now() + period, std::move(on_tick)};
}

void EventLoop::StopTimer(int id) { timers_.erase(id); }

void EventLoop::WatchFd(int fd, Task on_readable) { watches_[fd] = std::move(on_readable); }

void EventLoop::UnwatchFd(int fd) { watches_.erase(fd); }

void EventLoop::Quit() {
    shared_->quit = true;
    shared_->waiter.Wake();
}

void EventLoop::Run() {
    // A Quit() that came before Run() still counts; each Quit() ends one Run().
    while (!shared_->quit) RunOnce(std::chrono::hours(1));
    shared_->quit = false;
}

bool EventLoop::RunUntil(const std::function<bool()>& done, Duration timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        RunOnce(deadline - now);
    }
    return true;
}

void EventLoop::RunOnce(Duration max_wait) {
    using Clock = std::chrono::steady_clock;
    auto now = Clock::now();
    Duration wait = max_wait;
    for (const auto& [id, timer] : timers_)
        wait = std::min(wait, std::max(Duration::zero(), timer.due - now));
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->queue.empty()) wait = Duration::zero();
    }

    std::vector<int> watched;
    for (const auto& [fd, task] : watches_) watched.push_back(fd);
    const auto wait_ms =
        std::min(std::chrono::ceil<std::chrono::milliseconds>(wait), std::chrono::milliseconds(1 << 30));
    const std::vector<int> ready = shared_->waiter.Wait(watched, wait_ms);

    std::deque<Task> tasks;
    {
        std::lock_guard lock(shared_->mutex);
        tasks.swap(shared_->queue);
    }
    for (auto& task : tasks) task();

    now = Clock::now();
    std::vector<int> due;
    for (const auto& [id, timer] : timers_)
        if (timer.due <= now) due.push_back(id);
    for (int id : due) {
        auto it = timers_.find(id);
        if (it == timers_.end() || it->second.due > now) continue;  // stopped or restarted meanwhile
        it->second.due += it->second.period;
        if (it->second.due <= now) it->second.due = now + it->second.period;  // late ticks are not caught up
        Task tick = it->second.on_tick;  // the tick may stop or replace its own timer
        tick();
    }

    for (int fd : ready) {
        auto it = watches_.find(fd);
        if (it == watches_.end()) continue;  // unwatched by an earlier task
        Task task = it->second;
        task();
    }
}

}  // namespace korvel
