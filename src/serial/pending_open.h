// SPDX-License-Identifier: MIT
// An open of a port that runs on a thread of its own (SerialLink::m_bOpenInBackground).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "serial/port.h"

namespace korvel {

// Shared by the opening thread and the user-interface thread. The opening thread leaves its result here
// and posts its take-up; the user-interface thread takes the result at most once: at once when it waits
// for it (Await), or when the posted take-up runs (Take). Once abandoned (under the mutex) the opening
// thread posts nothing more and the port it got is closed.
class PendingOpen {
  public:
    // Opening thread: waits the pause before a reopen (DTR stays low meanwhile); false when the open
    // was abandoned during it.
    bool Pause(std::chrono::milliseconds pause) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, pause, [this] { return abandoned_; });
        return !abandoned_;
    }

    // Opening thread: leaves the result and, while the open is still wanted, calls post under the lock,
    // so the user-interface thread cannot go away in between. An abandoned open's port is closed.
    void Finish(std::unique_ptr<Port> port, Failure failure, const std::function<void()>& post) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (abandoned_) {
            if (port) port->Close();
            return;
        }
        port_ = std::move(port);
        failure_ = std::move(failure);
        done_ = true;
        changed_.notify_all();
        post();
    }

    // User-interface thread: the result, when it is there and neither taken nor abandoned.
    bool Take(std::unique_ptr<Port>& port, Failure& failure) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return TakeLocked(port, failure);
    }

    // User-interface thread: waits at most `wait` for the result, then takes it as Take does.
    bool Await(std::chrono::milliseconds wait, std::unique_ptr<Port>& port, Failure& failure) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return done_ || abandoned_; });
        return TakeLocked(port, failure);
    }

    // User-interface thread: nobody will take the result; a port already opened is closed here.
    void Abandon() {
        const std::lock_guard<std::mutex> lock(mutex_);
        abandoned_ = true;
        if (port_) port_->Close();
        port_.reset();
        changed_.notify_all();
    }

  private:
    bool TakeLocked(std::unique_ptr<Port>& port, Failure& failure) {
        if (!done_ || taken_ || abandoned_) return false;
        taken_ = true;
        port = std::move(port_);
        failure = std::move(failure_);
        return true;
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    bool abandoned_ = false;
    bool done_ = false;
    bool taken_ = false;
    std::unique_ptr<Port> port_;
    Failure failure_;
};

}  // namespace korvel
