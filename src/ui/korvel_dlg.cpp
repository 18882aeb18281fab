// SPDX-License-Identifier: MIT
#include "ui/korvel_dlg.h"

namespace korvel {

CKorvelDlg::CKorvelDlg(Window& window, SerialLink& link, const Clock& clock, PortEnumerator& ports)
    : m_window(window), m_link(link), m_clock(clock), m_ports(ports) {}

CKorvelDlg::~CKorvelDlg() = default;

intptr_t CKorvelDlg::Dispatch(const Message&, bool* handled) {
    if (handled) *handled = false;
    return 0;
}

bool CKorvelDlg::OnInitDialog() { return true; }
void CKorvelDlg::OnTimer() {}
void CKorvelDlg::OnSelChangeMode() {}
void CKorvelDlg::OnDestroy() {}
void CKorvelDlg::OnEndSession(bool) {}

}  // namespace korvel
