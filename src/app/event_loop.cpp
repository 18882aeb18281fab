// SPDX-License-Identifier: MIT
#include "app/event_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>

namespace korvel {

// Kept alive by every poster, so a reader thread may post after the loop has gone.
struct EventLoop::Shared {
    std::mutex mutex;
    std::deque<Task> queue;
    bool alive = true;
    std::atomic<bool> quit{false};
    // Wakes the loop's poll(): a condition variable could not wait on the watched descriptors too.
    int wake_fd = -1;

    Shared() : wake_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (wake_fd < 0)
            throw std::runtime_error(std::string("cannot create the event loop's wake-up descriptor: ") +
                                     std::strerror(errno) + "; close other programs and try again");
    }
    ~Shared() { ::close(wake_fd); }
    void Push(Task task) {
        {
            std::lock_guard lock(mutex);
            if (!alive) return;
            queue.push_back(std::move(task));
        }
        Wake();
    }
    void Wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_fd, &one, sizeof one);
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

    std::vector<pollfd> fds;
    fds.push_back({shared_->wake_fd, POLLIN, 0});
    for (const auto& [fd, task] : watches_) fds.push_back({fd, POLLIN, 0});
    // Round up so a timer that is due in 0.3 ms does not make the loop spin.
    const auto wait_ms = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    int ready = ::poll(fds.data(), fds.size(), static_cast<int>(std::min<int64_t>(wait_ms, 1 << 30)));
    if (ready < 0 && errno != EINTR) ready = 0;

    if (fds[0].revents & POLLIN) {
        uint64_t count = 0;
        [[maybe_unused]] ssize_t n = ::read(shared_->wake_fd, &count, sizeof count);
    }

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

    for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        auto it = watches_.find(fds[i].fd);
        if (it == watches_.end()) continue;
        Task task = it->second;
        task();
    }
}

}  // namespace korvel
