// SPDX-License-Identifier: MIT
// The dialog's port connection: OpenPort (in place, or in the background with OpenInBackground and
// AwaitOpen), TakeUpOpen, ClosePort with ForgetConnection, WritePort and OnPortLost, which drive the
// SerialLink and the port it holds.
#include <system_error>
#include <thread>

#include "serial/pending_open.h"
#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "text/failure_texts.h"
#include "text/number.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"

namespace korvel {

void CKorvelDlg::OpenPort() {
    // A reopen keeps DTR low for a while first; an open in the background waits that on its own thread.
    std::chrono::milliseconds pause{0};
    if (m_link.m_bOpen) {
        ClosePort();
        pause = m_link.m_reopenPause;
        m_link.ReleaseEvents();
    }
    m_link.AbandonOpen();  // the choice changed while an earlier open was still under way
    Window& w = window();
    const int baud_index = w.ComboSelection(IDC_BAUD);
    const long long baud = baud_index < 0 ? 0 : ToInt(w.ComboItemText(IDC_BAUD, baud_index));
    m_link.m_nBaud = baud > 0 ? static_cast<uint32_t>(baud) : 0;

    const int port_index = w.ComboSelection(IDC_PORT);
    if (port_index < 0) return;
    m_link.m_strPath = PortPath(w.ComboItemText(IDC_PORT, port_index));

    m_link.ReleaseEvents();
    m_link.CreateEvents();

    Failure failure;
    // A rate of 0 would divide the write timeout by zero: no open is attempted at all.
    if (m_link.m_nBaud == 0) {
        failure = {FailureKind::Settings, failure_text::NoBaudRate()};
    } else if (m_link.m_strPath.empty()) {
        failure = {FailureKind::Absent, failure_text::PortWithoutName()};
    } else {
        const PortOpener opener = m_link.m_opener ? m_link.m_opener : PortOpener(OpenSerialPort);
        if (m_link.m_bOpenInBackground && m_link.m_hNotifyWnd && OpenInBackground(opener, pause)) {
            // Most opens take milliseconds: their result is taken up here, on the tick (or the choice)
            // that started them. After a reopen's pause it comes later, posted back.
            if (pause.count() == 0) AwaitOpen(m_link.m_openWait);
            return;
        }
        if (pause.count() > 0) std::this_thread::sleep_for(pause);
        std::unique_ptr<Port> port = opener(m_link.m_strPath, m_link.m_nBaud, failure);
        TakeUpOpen(std::move(port), std::move(failure));
        return;
    }
    TakeUpOpen(nullptr, std::move(failure));
}

bool CKorvelDlg::OpenInBackground(const PortOpener& opener, std::chrono::milliseconds pause) {
    auto pending = std::make_shared<PendingOpen>();
    const UiPost post = m_link.m_hNotifyWnd;
    try {
        std::thread([this, pending, post, opener, pause, path = m_link.m_strPath, baud = m_link.m_nBaud] {
            if (pause.count() > 0 && !pending->Pause(pause)) return;
            Failure failure;
            std::unique_ptr<Port> port = opener(path, baud, failure);
            // Posted only while the link still waits for it: the user-interface thread is there to take it.
            pending->Finish(std::move(port), std::move(failure), [this, pending, post] {
                post([this, pending] {
                    std::unique_ptr<Port> result;
                    Failure why;
                    // Taken already by the wait in OpenPort, or abandoned: nothing is left to do, and the
                    // dialog may be gone.
                    if (!pending->Take(result, why)) return;
                    m_link.m_pendingOpen.reset();
                    TakeUpOpen(std::move(result), std::move(why));
                });
            });
        }).detach();
    } catch (const std::system_error&) {
        return false;  // no thread to be had: the open runs in place
    }
    m_link.m_pendingOpen = std::move(pending);
    return true;
}

bool CKorvelDlg::AwaitOpen(std::chrono::milliseconds wait) {
    const std::shared_ptr<PendingOpen> pending = m_link.m_pendingOpen;
    if (!pending) return false;
    std::unique_ptr<Port> port;
    Failure failure;
    if (!pending->Await(wait, port, failure)) return false;
    m_link.m_pendingOpen.reset();
    TakeUpOpen(std::move(port), std::move(failure));
    return true;
}

void CKorvelDlg::TakeUpOpen(std::unique_ptr<Port> port, Failure failure) {
    if (port) {
        m_link.m_hPort = std::move(port);
        m_link.m_bOpen = 1;
        failure = {};
    }
    m_link.m_lastFailure = failure;
    m_nRxBytes = 0;
    m_nTxBytes = 0;
    if (m_link.m_bOpen) {
        // Without a reader the port still counts as open; it receives nothing until reopened.
        const bool started =
            m_link.m_hNotifyWnd &&
            m_link.m_hPort->StartReader(
                m_link.m_hNotifyWnd, [this](const uint8_t* bytes, int count) { OnSerialData(bytes, count); },
                [this] { OnPortLost(); });
        if (started) m_link.m_hPort->SetDtr(true);
    }
    // The state shows as soon as the result is there: on the tick or the choice that started the open,
    // or when a slow open's result is posted back.
    ShowOpenState();
}

void CKorvelDlg::ClosePort() {
    m_link.AbandonOpen();
    if (!m_link.m_bOpen) return;
    m_link.m_bOpen = 0;
    ++m_nPortCloses;
    if (m_link.m_hPort) {
        m_link.m_hPort->Close();
        m_link.m_hPort.reset();
    }
    ForgetConnection();
}

void CKorvelDlg::ForgetConnection() {
    // Bytes of a connection that is gone must not spoil the next one: a line cut off by the close would
    // be continued by the first line of the next reply, whose "OK" would then go unseen.
    m_assembler.Reset();
    // No reply of the old connection can come any more: the exchange ends without "无回应", and a walk
    // ends without its file (ShowOpenState says so).
    if (m_strCommand == u"get") m_bWalkCut = true;
    m_strCommand.clear();
    m_nReplyTimeout = 0;
    m_nReplyLines = 0;
    m_bReplyOk = 0;
    std::u16string().swap(m_strReplyBody);
    m_bReplyOverlong = false;
    m_batch = RecordBatch{};
    std::vector<std::string>().swap(m_recordBuffer);
}

void CKorvelDlg::WritePort(const uint8_t* bytes, size_t length) {
    m_nTxBytes += static_cast<uint32_t>(length);
    if (!m_link.m_bOpen || !m_link.m_hPort || m_link.m_nBaud == 0) return;
    const unsigned long long timeout =
        static_cast<unsigned long long>(length) * (19200u / m_link.m_nBaud) + 4;
    m_link.m_hPort->Write(bytes, length, timeout > UINT_MAX ? UINT_MAX : static_cast<unsigned>(timeout));
}

void CKorvelDlg::OnPortLost() {
    if (!m_link.m_bOpen) return;
    ClosePort();
    m_link.ReleaseEvents();
    m_link.m_lastFailure = {FailureKind::Absent, failure_text::PortLost(m_link.m_strPath)};
    // Shown now rather than at the next tick: a device back before that tick would hide the loss.
    ShowOpenState();
}

}  // namespace korvel
