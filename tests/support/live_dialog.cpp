// SPDX-License-Identifier: MIT
#include "support/live_dialog.h"

#include "records/record_file.h"
#include "serial/port_name.h"
#include "text/utf8.h"
#include "ui/controls.h"

namespace korvel::testing {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

LiveDialog::LiveDialog(const std::string& port, const std::string& upload_dir, Heartbeat heartbeat)
    : app(window, clock, ports, loop.Poster()),
      dlg(app.Dialog()),
      port_(port),
      upload_dir_(upload_dir),
      heartbeat_(heartbeat) {
    SystemClock system;
    clock.local = system.Local();
    clock.now = system.Now();
    ports.names = {PortName(port)};
    app.Link().m_reopenPause = 0ms;
    if (heartbeat_ == Heartbeat::EverySecond) window.on_tick = [this] { Tick(); };
}

LiveDialog::~LiveDialog() { app.ExitInstance(); }

bool LiveDialog::Init() {
    if (!app.InitInstance()) return false;
    if (!upload_dir_.empty()) dlg.m_strUploadDir = Utf8ToWide(upload_dir_);
    return true;
}

bool LiveDialog::Connect() {
    if (!Init()) return false;
    // Chosen here rather than left to the remembered index: a pseudo-terminal is no port of the system.
    window.ComboReset(IDC_PORT);
    window.ComboAdd(IDC_PORT, PortName(port_));
    window.ComboSelect(IDC_PORT, 0);
    Tick();
    return Open();
}

void LiveDialog::Tick() { dlg.Dispatch(Message{Msg::Timer}); }

void LiveDialog::Click(int id) { dlg.Dispatch(Message{Msg::Command, id, Notify::Clicked}); }

bool LiveDialog::RunUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    if (heartbeat_ != Heartbeat::WhenQuiet) return loop.RunUntil(done, limit);
    const auto deadline = SteadyClock::now() + limit;
    auto quiet_since = SteadyClock::now();
    uint32_t rx = dlg.m_nRxBytes, tx = dlg.m_nTxBytes;
    while (!done()) {
        if (SteadyClock::now() > deadline) return false;
        loop.RunOnce(20ms);
        if (rx != dlg.m_nRxBytes || tx != dlg.m_nTxBytes) {
            rx = dlg.m_nRxBytes, tx = dlg.m_nTxBytes;
            quiet_since = SteadyClock::now();
        } else if (SteadyClock::now() - quiet_since > 200ms) {
            Tick();
            quiet_since = SteadyClock::now();
        }
    }
    return true;
}

bool LiveDialog::ReadInfo(int attempts) {
    for (int attempt = 0; attempt < attempts; ++attempt) {
        Click(IDC_READ_INFO);
        if (!RunUntil([this] { return dlg.LastOutcome() != CKorvelDlg::Outcome::Pending; }, 20s))
            return false;
        if (dlg.LastOutcome() == CKorvelDlg::Outcome::Answered) return true;
    }
    return false;
}

bool LiveDialog::Download(std::chrono::seconds limit) {
    clock.local.second = (clock.local.second + 1) % 60;  // every download gets a name of its own
    Click(IDC_READ_DATA);
    return RunUntil([this] { return !dlg.Downloading(); }, limit) && !dlg.m_bSaveFailed;
}

std::string LiveDialog::FilePath() const {
    return WideToUtf8(JoinPath(dlg.m_strUploadDir, dlg.m_strFileName));
}

}  // namespace korvel::testing
