// SPDX-License-Identifier: MIT
#include "app/korvel_app.h"

#include <mutex>
#include <system_error>
#include <thread>

#include "ui/texts.h"

namespace korvel {

// Shared by the application and its worker threads: a worker hands its result to the user-interface
// thread only while the application lives, and the application's end waits for a hand-over under way.
struct CKorvelApp::Background {
    std::mutex mutex;
    bool ended = false;  // written under the mutex, read there or on the user-interface thread
};

std::unique_ptr<CKorvelDlg> CKorvelApp::PlainDialog(Window& window, SerialLink& link, const Clock& clock,
                                                    PortEnumerator& ports) {
    return std::make_unique<CKorvelDlg>(window, link, clock, ports);
}

CKorvelApp::CKorvelApp(Window& window, const Clock& clock, PortEnumerator& ports, UiPost ui,
                       PortOpener opener, const DialogFactory& make_dialog)
    : m_link(std::move(opener)),
      m_dlg(make_dialog(window, m_link, clock, ports)),
      m_ui(std::move(ui)),
      m_background(std::make_shared<Background>()) {
    if (!m_link.EventsHeld()) window.MessageBox(text::kInfoCreateFalse);
}

bool CKorvelApp::InitInstance() {
    // The receiver of the chunks is in place before the timer can open a port.
    m_link.m_hNotifyWnd = m_ui;
    return m_dlg->OnInitDialog();
}

void CKorvelApp::ExitInstance() { m_dlg->Dispatch(Message{Msg::Destroy}); }

CKorvelApp::~CKorvelApp() {
    const std::lock_guard<std::mutex> lock(m_background->mutex);
    m_background->ended = true;
}

void CKorvelApp::OffUiThread(std::function<std::function<void()>()> work) {
    auto run = [background = m_background, ui = m_ui, work = std::move(work)] {
        std::function<void()> then = work();
        const std::lock_guard<std::mutex> lock(background->mutex);
        if (background->ended) return;
        ui([background, then = std::move(then)] {
            if (!background->ended) then();
        });
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the work runs here, and the window waits for it.
        run();
    }
}

}  // namespace korvel
