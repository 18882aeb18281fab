// SPDX-License-Identifier: MIT
#include "ui/memory_window.h"

#include <stdexcept>

#include "ui/controls.h"
#include "ui/dialog_template.h"

namespace korvel {
namespace {

std::string ProfileKey(std::string_view section, std::string_view key) {
    std::string k(section);
    k += '/';
    k += key;
    return k;
}

}  // namespace

MemoryWindow::MemoryWindow() {
    controls_[kWindowTitle] = ControlState{};
    for (const ControlTemplate& c : MainDialogTemplate().controls) {
        if (c.id == IDC_STATIC) continue;
        ControlState& s = controls_[c.id];
        s.text = std::u16string(c.text);
        s.visible = c.visible;
        s.enabled = c.enabled;
    }
    for (auto rate : kBaudRates) controls_[IDC_BAUD].items.emplace_back(rate);
    for (auto mode : kTemplateModes) controls_[IDC_MODE].items.emplace_back(mode);
}

const ControlState& MemoryWindow::Control(int id) const {
    auto it = controls_.find(id);
    if (it == controls_.end()) throw std::out_of_range("no control with id " + std::to_string(id));
    return it->second;
}

ControlState& MemoryWindow::Mutable(int id) {
    auto it = controls_.find(id);
    if (it == controls_.end()) throw std::out_of_range("no control with id " + std::to_string(id));
    return it->second;
}

void MemoryWindow::SetText(int id, std::u16string_view text) { Mutable(id).text = std::u16string(text); }
void MemoryWindow::Show(int id, bool shown) { Mutable(id).visible = shown; }
void MemoryWindow::Enable(int id, bool enabled) { Mutable(id).enabled = enabled; }

void MemoryWindow::ComboReset(int id) {
    ControlState& s = Mutable(id);
    s.items.clear();
    s.selection = -1;
}

void MemoryWindow::ComboAdd(int id, std::u16string_view text) { Mutable(id).items.emplace_back(text); }

int MemoryWindow::ComboCount(int id) const { return static_cast<int>(Control(id).items.size()); }

void MemoryWindow::ComboSelect(int id, int index) {
    ControlState& s = Mutable(id);
    s.selection = (index >= 0 && index < static_cast<int>(s.items.size())) ? index : -1;
}

int MemoryWindow::ComboSelection(int id) const { return Control(id).selection; }

std::u16string MemoryWindow::ComboItemText(int id, int index) const {
    const ControlState& s = Control(id);
    if (index < 0 || index >= static_cast<int>(s.items.size())) return {};
    return s.items[static_cast<size_t>(index)];
}

void MemoryWindow::SetProgressRange(int id, int low, int high) {
    ControlState& s = Mutable(id);
    s.progress_low = low;
    s.progress_high = high;
}

void MemoryWindow::SetProgressPos(int id, int pos) { Mutable(id).progress_pos = pos; }

void MemoryWindow::StartTimer(int timer_id, int period_ms) { timers_[timer_id] = period_ms; }
void MemoryWindow::StopTimer(int timer_id) { timers_.erase(timer_id); }
bool MemoryWindow::TimerRunning(int timer_id) const { return timers_.count(timer_id) != 0; }
int MemoryWindow::TimerPeriod(int timer_id) const {
    auto it = timers_.find(timer_id);
    return it == timers_.end() ? 0 : it->second;
}

void MemoryWindow::MessageBox(std::u16string_view text) {
    message_boxes_.emplace_back(text);
    if (while_message_box) while_message_box();
}

int MemoryWindow::GetProfileInt(std::string_view section, std::string_view key, int default_value) {
    auto it = profile_.find(ProfileKey(section, key));
    return it == profile_.end() ? default_value : it->second;
}

void MemoryWindow::WriteProfileInt(std::string_view section, std::string_view key, int value) {
    profile_[ProfileKey(section, key)] = value;
    ++profile_writes_;
}

}  // namespace korvel
