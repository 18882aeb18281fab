// SPDX-License-Identifier: MIT
#include "app/korvel_app.h"

#include "ui/texts.h"

namespace korvel {

CKorvelApp::CKorvelApp(Window& window, const Clock& clock, PortEnumerator& ports, UiPost ui,
                       PortOpener opener)
    : m_link(std::move(opener)), m_dlg(window, m_link, clock, ports), m_ui(std::move(ui)) {
    if (!m_link.EventsHeld()) window.MessageBox(text::kInfoCreateFalse);
}

bool CKorvelApp::InitInstance() {
    // The receiver of the chunks is in place before the timer can open a port.
    m_link.m_hNotifyWnd = m_ui;
    return m_dlg.OnInitDialog();
}

void CKorvelApp::ExitInstance() { m_dlg.Dispatch(Message{Msg::Destroy}); }

}  // namespace korvel
