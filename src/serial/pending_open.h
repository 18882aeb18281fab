// SPDX-License-Identifier: MIT
// An open of a port that runs on a thread of its own (SerialLink::m_bOpenInBackground).
#pragma once

#include <mutex>

namespace korvel {

// Shared by the opening thread and the user-interface thread. Once abandoned (under the mutex) the
// opening thread posts nothing more and closes the port it got.
struct PendingOpen {
    std::mutex mutex;
    bool abandoned = false;
};

}  // namespace korvel
