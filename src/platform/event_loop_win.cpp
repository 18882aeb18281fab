// SPDX-License-Identifier: MIT
#include <windows.h>

#include <stdexcept>

#include "platform/loop_waiter.h"
#include "text/wide_win.h"

namespace korvel {

// An auto-reset event wakes the loop's wait, which also watches the handles given to WatchFd.
LoopWaiter::LoopWaiter() : wake_(reinterpret_cast<intptr_t>(CreateEventW(nullptr, FALSE, FALSE, nullptr))) {
    if (!wake_)
        throw std::runtime_error("cannot create the event loop's wake-up event: " +
                                 SystemMessage(GetLastError()) + "; close other programs and try again");
}

LoopWaiter::~LoopWaiter() { CloseHandle(reinterpret_cast<HANDLE>(wake_)); }

void LoopWaiter::Wake() const { SetEvent(reinterpret_cast<HANDLE>(wake_)); }

std::vector<int> LoopWaiter::Wait(const std::vector<int>& watched, std::chrono::milliseconds timeout) {
    std::vector<HANDLE> handles{reinterpret_cast<HANDLE>(wake_)};
    for (int fd : watched) {
        if (handles.size() == MAXIMUM_WAIT_OBJECTS) break;
        handles.push_back(reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)));
    }
    const DWORD ready = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                               static_cast<DWORD>(timeout.count()));
    // One wait tells one handle: the first of those that are signalled.
    if (ready > WAIT_OBJECT_0 && ready < WAIT_OBJECT_0 + handles.size())
        return {watched[ready - WAIT_OBJECT_0 - 1]};
    return {};
}

}  // namespace korvel
