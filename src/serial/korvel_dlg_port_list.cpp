// SPDX-License-Identifier: MIT
// The dialog's port list: RefreshPortList, FillPortCombo, OnDeviceChange, OnSelChangePort and
// OnSelChangeBaud.
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

namespace korvel {

bool CKorvelDlg::RefreshPortList() {
    auto names = m_ports.Read();
    // A list that cannot be read is left untouched and counts as a change: the combo box is refilled and
    // the chosen name searched again, so an open port stays open and selected.
    if (!names) return true;
    if (*names == m_portNames) return false;  // same names in the same order; an order change is a change
    m_portNames = std::move(*names);
    return true;
}

void CKorvelDlg::FillPortCombo() {
    Window& w = window();
    w.ComboReset(IDC_PORT);
    for (const auto& name : m_portNames) w.ComboAdd(IDC_PORT, name);
}

intptr_t CKorvelDlg::OnDeviceChange(uintptr_t event, intptr_t) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return 0;
    if (!RefreshPortList()) return 0;
    FillPortCombo();
    Window& w = window();
    for (int i = 0, n = w.ComboCount(IDC_PORT); i < n; ++i) {
        if (w.ComboItemText(IDC_PORT, i) == m_strPortName) {
            w.ComboSelect(IDC_PORT, i);  // no selection-change: an open port stays open
            return 0;
        }
    }
    ClosePort();
    m_link.ReleaseEvents();
    // Shown now: the adapter may come back before the next tick, which would then reopen it unseen.
    ShowOpenState();
    return 0;
}

void CKorvelDlg::OnSelChangePort() {
    Window& w = window();
    const int index = w.ComboSelection(IDC_PORT);
    m_strPortName = w.ComboItemText(IDC_PORT, index);
    w.WriteProfileInt(text::kSettingsSection, text::kKeyPortIndex, index);
    ResetDeviceInfo();
    ShowDeviceInfo();
    OpenPort();
}

void CKorvelDlg::OnSelChangeBaud() {
    window().WriteProfileInt(text::kSettingsSection, text::kKeyBaud, window().ComboSelection(IDC_BAUD));
    OpenPort();
}

}  // namespace korvel
