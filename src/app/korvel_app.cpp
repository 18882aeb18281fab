// SPDX-License-Identifier: MIT
#include "app/korvel_app.h"

#include "ui/texts.h"

namespace korvel {

std::unique_ptr<CKorvelDlg> CKorvelApp::PlainDialog(Window& window, SerialLink& link, const Clock& clock,
                                                    PortEnumerator& ports) {
    return std::make_unique<CKorvelDlg>(window, link, clock, ports);
}

CKorvelApp::CKorvelApp(Window& window, const Clock& clock, PortEnumerator& ports, UiPost ui,
                       PortOpener opener, const DialogFactory& make_dialog)
    : m_link(std::move(opener)), m_dlg(make_dialog(window, m_link, clock, ports)), m_ui(std::move(ui)) {
    if (!m_link.EventsHeld()) window.MessageBox(text::kInfoCreateFalse);
}

bool CKorvelApp::InitInstance() {
    // The receiver of the chunks is in place before the timer can open a port.
    m_link.m_hNotifyWnd = m_ui;
    return m_dlg->OnInitDialog();
}

void CKorvelApp::ExitInstance() { m_dlg->Dispatch(Message{Msg::Destroy}); }

}  // namespace korvel
