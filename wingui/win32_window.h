// SPDX-License-Identifier: MIT
// The native Windows window: dialog template 102 built in memory from the shared template table and run
// modally, with the window operations on the Win32 dialog and control calls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/registry_profile.h"
#include "ui/dialog_template.h"
#include "ui/window.h"

// Handles as the Windows headers declare them; those headers are left out here, since their macros
// (IDOK, MessageBox, GetProfileInt) would break the dialog's and the window layer's own names.
struct HWND__;
struct HINSTANCE__;

namespace korvel::win {

using HWND = HWND__*;

// The template as DialogBoxIndirectParamW takes it: a DLGTEMPLATEEX with one DLGITEMTEMPLATEEX per
// control, in template order, with the font "MS Shell Dlg" at the template's size and an empty caption.
std::vector<uint16_t> BuildDialogTemplate(const DialogTemplate& dialog);

class Win32Window : public Window {
  public:
    explicit Win32Window(std::u16string settings_name);

    void Attach(HWND dialog) { hwnd_ = dialog; }
    HWND Handle() const { return hwnd_; }

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
    void SetToolTip(int id, std::u16string_view text) override;

  private:
    HWND Item(int id) const;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;  // made at the first SetToolTip
    std::vector<int> tools_;  // the controls it has a tool for
    RegistryProfile profile_;
};

// The system menu's commands of the record items, in menu order (multiples of 16 below 0xF000, as
// system commands are).
inline constexpr unsigned kRecordCommands[] = {0x0110, 0x0120, 0x0130, 0x0140};
// The check's text window: its edit control and its copy button.
inline constexpr int kCheckTextId = 100;
inline constexpr int kCheckCopyId = 101;

struct RunOptions {
    std::u16string settings_name;        // the registry key's application name
    std::function<void(HWND)> on_shown;  // after the dialog was initialised and first shown
};

// Runs the tool's dialog modally until it is closed; returns DialogBoxIndirectParamW's result.
intptr_t RunMainDialog(HINSTANCE__* instance, const RunOptions& options);

}  // namespace korvel::win
