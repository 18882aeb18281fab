// SPDX-License-Identifier: MIT
// The dialog's window for the command line: it remembers every control like the test double, runs the
// dialog's timer on our event loop, and lets the session watch the texts the dialog shows.
#pragma once

#include <functional>
#include <string_view>

#include "app/event_loop.h"
#include "ui/memory_window.h"

namespace korvel::cli {

class CliWindow : public MemoryWindow {
  public:
    explicit CliWindow(EventLoop& loop) : loop_(loop) {}

    void SetText(int id, std::u16string_view text) override;
    void StartTimer(int timer_id, int period_ms) override;
    void StopTimer(int timer_id) override;
    void MessageBox(std::u16string_view text) override;

    std::function<void(int id, std::u16string_view text)> on_text;
    std::function<void()> on_tick;

  private:
    EventLoop& loop_;
};

// Text from the device as plain text for a terminal: control characters are shown escaped (\x1b),
// never passed on to be interpreted.
std::string PlainText(std::u16string_view text);

}  // namespace korvel::cli
