// SPDX-License-Identifier: MIT
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>

#include "app/event_loop.h"

namespace korvel {

// Kept alive by every poster, so a reader thread may post after the loop has gone.
struct EventLoop::Shared {
    std::mutex mutex;
    std::deque<Task> queue;
    bool alive = true;
    std::atomic<bool> quit{false};
    // Wakes the loop's wait, which also watches the handles given to WatchFd.
    HANDLE wake = nullptr;

    Shared() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
        if (!wake) throw std::runtime_error("CreateEvent failed");
    }
    ~Shared() { CloseHandle(wake); }
    void Push(Task task) {
        {
            std::lock_guard lock(mutex);
            if (!alive) return;
            queue.push_back(std::move(task));
        }
        Wake();
    }
    void Wake() const { SetEvent(wake); }
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
    shared_->Wake();
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

    // On Windows a watched "fd" is an event or other waitable handle.
    std::vector<HANDLE> handles{shared_->wake};
    std::vector<int> ids;
    for (const auto& [fd, task] : watches_) {
        if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;
        handles.push_back(reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)));
        ids.push_back(fd);
    }
    // Round up so a timer that is due in 0.3 ms does not make the loop spin.
    const auto wait_ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    const DWORD ready = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                               static_cast<DWORD>(std::min<int64_t>(wait_ms, 1 << 30)));

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

    if (ready > WAIT_OBJECT_0 && ready < WAIT_OBJECT_0 + handles.size()) {
        auto it = watches_.find(ids[ready - WAIT_OBJECT_0 - 1]);
        if (it != watches_.end()) {
            Task task = it->second;
            task();
        }
    }
}

}  // namespace korvel
