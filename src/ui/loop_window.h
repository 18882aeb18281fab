// SPDX-License-Identifier: MIT
// The remembering window with its timers on an EventLoop: the dialog's window wherever no toolkit
// draws one (the command line, and the tests and benchmarks that drive the dialog over a real port).
#pragma once

#include <functional>
#include <string_view>

#include "platform/event_loop.h"
#include "ui/memory_window.h"

namespace korvel {

class LoopWindow : public MemoryWindow {
  public:
    explicit LoopWindow(EventLoop& loop) : loop_(loop) {}

    void SetText(int id, std::u16string_view text) override;
    void StartTimer(int timer_id, int period_ms) override;
    void StopTimer(int timer_id) override;

    // Called after every text the dialog shows, and on every tick of a timer it started.
    std::function<void(int id, std::u16string_view text)> on_text;
    std::function<void()> on_tick;

  private:
    EventLoop& loop_;
};

}  // namespace korvel
