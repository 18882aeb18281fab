// SPDX-License-Identifier: MIT
// The application object's bench: the remembering window, a clock that stands still, fake ports and a
// front end whose posts run at once and are counted.
#pragma once

#include <functional>
#include <memory>

#include "platform/clock.h"
#include "platform/ui_post.h"
#include "support/fake_port.h"
#include "ui/memory_window.h"

namespace korvel::testing {

struct AppBench {
    MemoryWindow window;
    FixedClock clock;
    FakePortList ports;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    int posted = 0;
    UiPost Post() {
        return [this](std::function<void()> f) {
            ++posted;
            f();
        };
    }
};

}  // namespace korvel::testing
