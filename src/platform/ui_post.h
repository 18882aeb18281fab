// SPDX-License-Identifier: MIT
// How work reaches the user-interface thread from any other thread.
#pragma once

#include <functional>

namespace korvel {

// Queues a function to run on the user-interface thread. Callable from any thread; never blocks.
using UiPost = std::function<void(std::function<void()>)>;

}  // namespace korvel
