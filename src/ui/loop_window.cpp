// SPDX-License-Identifier: MIT
#include "ui/loop_window.h"

#include <chrono>

namespace korvel {

void LoopWindow::SetText(int id, std::u16string_view text) {
    MemoryWindow::SetText(id, text);
    if (on_text) on_text(id, text);
}

void LoopWindow::StartTimer(int timer_id, int period_ms) {
    MemoryWindow::StartTimer(timer_id, period_ms);
    loop_.StartTimer(timer_id, std::chrono::milliseconds(period_ms), [this] {
        if (on_tick) on_tick();
    });
}

void LoopWindow::StopTimer(int timer_id) {
    MemoryWindow::StopTimer(timer_id);
    loop_.StopTimer(timer_id);
}

}  // namespace korvel
