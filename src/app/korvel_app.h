// SPDX-License-Identifier: MIT
// Start-up of the tool, shared by every front end: the serial link comes first, then the dialog on the
// front end's window. The front end owns the user-interface loop: it delivers the dialog's messages
// (CKorvelDlg::Dispatch), its timer ticks included, and runs posted functions on that same thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "serial/port.h"
#include "serial/port_enumerator.h"
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"
#include "ui/window.h"

namespace korvel {

// The record items both windows offer in their menu, in this order, each with the shortcut Ctrl+key;
// the operator's guide last, with the help key F1.
enum class RecordItem { OpenFolder, CheckRecords, SpeedReport, Guide };
struct RecordMenuItem {
    RecordItem item;
    std::u16string_view text;
    char key;  // an upper-case letter; 0 for the guide, whose key is F1
};
extern const RecordMenuItem kRecordMenu[4];

// The operator's guide (docs/korvel-guide.html), built into the program.
std::string_view OperatorGuide();

// The report page of the device whose product field is product (the overview of every device when product
// is empty or names no device with records) of the record files in folder, written to a folder of its own
// in the temporary folder that only this user may enter, and opened in the browser. Empty when the browser
// took it; otherwise the sentence to show, with what to do. Blocks while the folder is read and the
// desktop takes the page: the windows call it off their user-interface thread, `korvel --overview` (the
// Start-menu shortcut and the desktop action) on its own.
std::u16string WriteAndOpenReport(const std::string& folder, const std::string& product);

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
    ~CKorvelApp();

    // Initialises the dialog: settings, port list, the one-second timer. The port opens on the first tick.
    bool InitInstance();
    // The dialog's destruction steps; safe to run more than once.
    void ExitInstance();

    // The record items. Each returns at once: the folder is read on a thread of its own and the result
    // comes back through ui. A failure is told in a message box, with what to do.
    // The upload folder in the file manager.
    void OpenRecordFolder();
    // The archive check of the upload folder; show gets its plain text on the user-interface thread.
    void CheckRecords(std::function<void(std::u16string)> show);
    // The report of the device whose information was last read, or the overview of every device when
    // none was, written to the pages folder and opened in the browser. The pages folder is this user's
    // own in the temporary folder ("korvel-pages"); it keeps the newest kPagesKept (views/page_file.h).
    void WriteSpeedReport();
    // The operator's guide, written to the pages folder and opened in the browser.
    void OpenGuide();
    // Runs the item's action; show is CheckRecords's.
    void RunRecordItem(RecordItem item, std::function<void(std::u16string)> show);
    // Once a tick: after 读信息, the record count's tooltip tells how many records of the device are
    // probably not yet downloaded and by when the oldest of them is overwritten, when the upload folder
    // holds files of the device.
    void UpdateRecordCountTip();

    CKorvelDlg& Dialog() { return *m_dlg; }
    const CKorvelDlg& Dialog() const { return *m_dlg; }
    SerialLink& Link() { return m_link; }
    const SerialLink& Link() const { return m_link; }

  private:
    struct Background;
    // Runs work on a thread of its own; the function it returns runs on the user-interface thread,
    // unless the application has ended by then.
    void OffUiThread(std::function<std::function<void()>()> work);

    SerialLink m_link;  // before the dialog: constructed first, destroyed last
    std::unique_ptr<CKorvelDlg> m_dlg;
    UiPost m_ui;
    std::shared_ptr<Background> m_background;
    std::u16string m_tipFor;  // the device information the record count's tooltip was last asked for
};

}  // namespace korvel
