// SPDX-License-Identifier: MIT
// A window that only remembers: every control's text, visibility, enabled state, combo items and
// selection, progress, the message boxes shown and the profile values. Tests read it; the command-line
// front end builds on it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/window.h"

namespace korvel {

struct ControlState {
    std::u16string text;
    bool visible = true;
    bool enabled = true;
    std::vector<std::u16string> items;
    int selection = -1;
    int progress_low = 0;
    int progress_high = 100;
    int progress_pos = 0;
};

class MemoryWindow : public Window {
  public:
    // Starts with the controls, texts, states and list contents of dialog template 102.
    MemoryWindow();

    void SetText(int id, std::u16string_view text) override;
    void Show(int id, bool shown) override;
    void Enable(int id, bool enabled) override;
    void ComboReset(int id) override;
    void ComboAdd(int id, std::u16string_view text) override;
    int ComboCount(int id) const override;
    void ComboSelect(int id, int index) override;
    int ComboSelection(int id) const override;
    std::u16string ComboItemText(int id, int index) const override;
    void SetProgressRange(int id, int low, int high) override;
    void SetProgressPos(int id, int pos) override;
    void StartTimer(int timer_id, int period_ms) override;
    void StopTimer(int timer_id) override;
    void MessageBox(std::u16string_view text) override;
    int GetProfileInt(std::string_view section, std::string_view key, int default_value) override;
    void WriteProfileInt(std::string_view section, std::string_view key, int value) override;

    // Runs while a message box is open, as a real window's own loop would go on handling timer ticks and
    // received data meanwhile. Tests set it.
    std::function<void()> while_message_box;

    // What was recorded.
    const ControlState& Control(int id) const;
    const std::u16string& Text(int id) const { return Control(id).text; }
    bool Visible(int id) const { return Control(id).visible; }
    bool Enabled(int id) const { return Control(id).enabled; }
    bool TimerRunning(int timer_id) const;
    int TimerPeriod(int timer_id) const;
    const std::vector<std::u16string>& MessageBoxes() const { return message_boxes_; }
    // Profile values as stored; "section/key" → value. Tests may preset them.
    std::map<std::string, int>& Profile() { return profile_; }
    int ProfileWrites() const { return profile_writes_; }

  protected:
    ControlState& Mutable(int id);

  private:
    std::map<int, ControlState> controls_;
    std::map<int, int> timers_;  // running timers: id → period
    std::vector<std::u16string> message_boxes_;
    std::map<std::string, int> profile_;
    int profile_writes_ = 0;
};

}  // namespace korvel
