// SPDX-License-Identifier: MIT
#include "engine_download.h"

#include <chrono>

#include "app/clock.h"
#include "app/event_loop.h"
#include "records/record_file.h"
#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "support/fake_port.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace korvel::testing {
namespace {

class LoopWindow : public MemoryWindow {
  public:
    LoopWindow(EventLoop& loop, CKorvelDlg*& dlg) : loop_(loop), dlg_(dlg) {}
    void StartTimer(int timer_id, int period_ms) override {
        MemoryWindow::StartTimer(timer_id, period_ms);
        loop_.StartTimer(timer_id, std::chrono::milliseconds(period_ms),
                         [this] { dlg_->Dispatch(Message{Msg::Timer}); });
    }
    void StopTimer(int timer_id) override {
        MemoryWindow::StopTimer(timer_id);
        loop_.StopTimer(timer_id);
    }

  private:
    EventLoop& loop_;
    CKorvelDlg*& dlg_;
};

}  // namespace

std::string EngineDownload(const std::string& port, const std::string& folder) {
    using std::chrono::seconds;
    EventLoop loop;
    CKorvelDlg* dlg_pointer = nullptr;
    LoopWindow window(loop, dlg_pointer);
    SerialLink link;
    link.m_hNotifyWnd = loop.Poster();
    SystemClock clock;
    FakePortList ports;
    ports.names = {PortName(port)};
    CKorvelDlg dlg(window, link, clock, ports);
    dlg_pointer = &dlg;

    dlg.OnInitDialog();
    dlg.m_strUploadDir = Utf8ToWide(folder);
    std::string path;
    if (loop.RunUntil([&] { return link.m_bOpen != 0; }, seconds(10))) {
        dlg.Dispatch(Message{Msg::Command, IDC_READ_INFO, Notify::Clicked});
        if (loop.RunUntil([&] { return dlg.m_strCommand.empty(); }, seconds(10)) &&
            window.Visible(IDC_READ_DATA)) {
            dlg.Dispatch(Message{Msg::Command, IDC_READ_DATA, Notify::Clicked});
            if (loop.RunUntil([&] { return dlg.m_strCommand != u"get"; }, seconds(60)) &&
                !dlg.m_bSaveFailed) {
                path = WideToUtf8(JoinPath(dlg.m_strUploadDir, dlg.m_strFileName));
            }
        }
    }
    dlg.Dispatch(Message{Msg::Destroy});
    return path;
}

}  // namespace korvel::testing
