// SPDX-License-Identifier: MIT
// Start-up of the tool, shared by every front end: the serial link comes first, then the dialog on the
// front end's window. The front end owns the user-interface loop: it delivers the dialog's messages
// (CKorvelDlg::Dispatch), its timer ticks included, and runs posted functions on that same thread.
#pragma once

#include <functional>
#include <memory>

#include "platform/clock.h"
#include "serial/port.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"
#include "ui/window.h"

namespace korvel {

class CKorvelApp {
  public:
    // What differs per front end in the dialog: a front end that extends it makes its own.
    using DialogFactory =
        std::function<std::unique_ptr<CKorvelDlg>(Window&, SerialLink&, const Clock&, PortEnumerator&)>;
    static std::unique_ptr<CKorvelDlg> PlainDialog(Window& window, SerialLink& link, const Clock& clock,
                                                   PortEnumerator& ports);

    // ui runs a function on the user-interface thread; received chunks reach the dialog through it.
    // A link that could not create its events is reported at once with "InfoCreate false!"; the tool
    // goes on, since every open attempt creates them anew.
    CKorvelApp(Window& window, const Clock& clock, PortEnumerator& ports, UiPost ui,
               PortOpener opener = OpenSerialPort, const DialogFactory& make_dialog = PlainDialog);
    CKorvelApp(const CKorvelApp&) = delete;
    CKorvelApp& operator=(const CKorvelApp&) = delete;

    // Initialises the dialog: settings, port list, the one-second timer. The port opens on the first tick.
    bool InitInstance();
    // The dialog's destruction steps; safe to run more than once.
    void ExitInstance();

    CKorvelDlg& Dialog() { return *m_dlg; }
    const CKorvelDlg& Dialog() const { return *m_dlg; }
    SerialLink& Link() { return m_link; }
    const SerialLink& Link() const { return m_link; }

  private:
    SerialLink m_link;  // before the dialog: constructed first, destroyed last
    std::unique_ptr<CKorvelDlg> m_dlg;
    UiPost m_ui;
};

}  // namespace korvel
