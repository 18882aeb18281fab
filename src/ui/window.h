// SPDX-License-Identifier: MIT
// The window operations the dialog logic calls. Every front end (Qt, the command line, the test
// double) supplies them; the logic never sees a toolkit.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

class Window {
  public:
    virtual ~Window() = default;

    // id is a control identifier, or kWindowTitle for the window itself.
    virtual void SetText(int id, std::u16string_view text) = 0;
    virtual void Show(int id, bool shown) = 0;  // hidden buttons cannot be clicked
    virtual void Enable(int id, bool enabled) = 0;

    // Combo boxes: items keep the order of adding; emptying also clears the selection; selecting by
    // program sends no selection-change notification; an index outside the list leaves no selection.
    virtual void ComboReset(int id) = 0;
    virtual void ComboAdd(int id, std::u16string_view text) = 0;
    virtual int ComboCount(int id) const = 0;
    virtual void ComboSelect(int id, int index) = 0;
    virtual int ComboSelection(int id) const = 0;                       // -1 when nothing is selected
    virtual std::u16string ComboItemText(int id, int index) const = 0;  // empty outside the list

    virtual void SetProgressRange(int id, int low, int high) = 0;
    virtual void SetProgressPos(int id, int pos) = 0;

    // One tick about every period on the user-interface thread, delivered to the dialog's timer handler.
    virtual void StartTimer(int timer_id, int period_ms) = 0;
    virtual void StopTimer(int timer_id) = 0;

    // Modal, one OK button: returns when the operator closed it.
    virtual void MessageBox(std::u16string_view text) = 0;

    // The control's tooltip, plain text; empty removes it. Front ends without tooltips ignore it.
    virtual void SetToolTip(int id, std::u16string_view text) {
        (void)id;
        (void)text;
    }

    // Profile integers: a read returns the stored value or the default; a write is stored at once.
    virtual int GetProfileInt(std::string_view section, std::string_view key, int default_value) = 0;
    virtual void WriteProfileInt(std::string_view section, std::string_view key, int value) = 0;
};

}  // namespace korvel
