// SPDX-License-Identifier: MIT
// The part of the event loop that differs per OS: the wake-up from another thread and the wait for it,
// for a due timer or for a watched descriptor (on Windows a waitable handle).
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace korvel {

class LoopWaiter {
  public:
    // Throws std::runtime_error with the sentence to show when the system gives no wake-up object.
    LoopWaiter();
    ~LoopWaiter();
    LoopWaiter(const LoopWaiter&) = delete;
    LoopWaiter& operator=(const LoopWaiter&) = delete;

    // From any thread, never blocks: the current or next Wait() returns.
    void Wake() const;
    // Waits until Wake(), until one of watched is ready or until timeout (rounded up to a millisecond,
    // so a timer due in 0.3 ms does not make the loop spin); returns the watched ones that are ready.
    std::vector<int> Wait(const std::vector<int>& watched, std::chrono::milliseconds timeout);

  private:
    intptr_t wake_;  // an eventfd, or the HANDLE of an auto-reset event
};

}  // namespace korvel
