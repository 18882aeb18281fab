// SPDX-License-Identifier: MIT
#include <algorithm>

#include "protocol/record_index.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "text/format.h"
#include "text/number.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

namespace korvel {
namespace {

constexpr int kKeyLength = 19;
constexpr int kProgressMax = 10000;
// Immediate repetitions of a request whose reply was damaged or refused; after them the reply is taken
// as it came, so a line that always fails cannot stall the download.
constexpr int kMaxReplyRetries = 3;
constexpr int kWalkControls[] = {IDC_READ_INFO, IDC_SYNC_TIME, IDC_PORT, IDC_BAUD};

}  // namespace

void CKorvelDlg::OnReadData() {
    if (m_strCommand == u"get") {
        m_window.SetText(IDC_READ_DATA, text::kReadData);
        m_strCommand.clear();
        m_window.SetProgressPos(IDC_PROGRESS, 0);
        m_window.SetText(IDC_RESULT, text::kCancelled);
        for (int id : kWalkControls) m_window.Enable(id, true);
        return;
    }

    m_recordBuffer.clear();
    LocalTime now = m_clock.Local();
    int n = ToInt(m_strProductNo);
    m_strFileName = MakeRecordFileName(now, n);
    DeleteRecordFile(JoinPath(m_strUploadDir, m_strFileName));
    m_strLastSaved.clear();
    // The scan may show a message box, whose loop goes on running the timer and the reader: a port lost
    // meanwhile has been handled already, and a walk must not start on it.
    const int open_before = m_link.m_bOpen;
    const int shown_before = m_nShownOpenState;
    ScanSavedFiles(m_strUploadDir, n);
    if (m_link.m_bOpen != open_before || m_nShownOpenState != shown_before) return;
    // Only records accepted by this walk may end it at the saved key.
    m_strLastSeen.clear();
    DiscardPendingReply();
    m_nReplyRetries = 0;
    m_nSkippedRecords = 0;
    m_bSaveFailed = false;
    m_nReadIndex = m_nHeadIndex;
    m_strCommand = u"get";
    m_window.SetText(IDC_RESULT, u"");
    m_window.SetProgressRange(IDC_PROGRESS, 0, kProgressMax);
    m_window.SetProgressPos(IDC_PROGRESS, 0);
    m_tStart = m_clock.Now();
    SendCommand();
    m_window.SetText(IDC_READ_DATA, text::kStopReadData);
    for (int id : kWalkControls) m_window.Enable(id, false);
}

bool CKorvelDlg::StoreRecord(int count, const std::u16string* tokens) {
    if (count < 3) return false;
    std::u16string record = tokens[0];
    record += u' ';
    record += tokens[1];
    record += m_strUtcOffset;
    record += u' ';
    record += tokens[2];
    record += u' ';
    record += count >= 4 ? tokens[3] : Format(u"%04d", ToInt(m_strProductNo));
    // Every line that names its index moves the walk, also one older than the saved key: a batch of
    // skipped records then costs one request, not a hundred.
    if (count >= 5) {
        // A record above the requested index, up to the newest, was asked for by an earlier request: this
        // is the answer to that one, come after its timeout had already repeated it. Taking it would store
        // those records twice. (Records below the requested index are the device's choice and are taken.)
        const int index = ToInt(tokens[4]) & kIndexMask;
        const int asked = m_nReadIndex & kIndexMask;
        if (index != asked && RingDistance(asked, index) <= RingDistance(asked, m_nHeadIndex))
            m_bPendingStale = true;
        m_nPendingReadIndex = ToInt(tokens[4]);
        m_bPendingReadIndex = true;
        ++m_nPendingIndexed;
    }
    std::u16string_view key = std::u16string_view(record).substr(0, kKeyLength);
    if (key < std::u16string_view(m_strLastSaved)) return true;
    m_strPendingLastSeen = key;
    m_bPendingLastSeen = true;
    m_pendingRecords.push_back(MakeRecordLine(record));
    return true;
}

void CKorvelDlg::DiscardPendingReply() {
    m_pendingRecords.clear();
    m_bPendingLastSeen = m_bPendingReadIndex = m_bPendingStale = false;
    m_nPendingIndexed = 0;
}

void CKorvelDlg::OnRecordReplyRefused() {
    DiscardPendingReply();
    if (m_strCommand != u"get" || m_nReplyRetries >= kMaxReplyRetries) return;  // the timeout repeats it
    ++m_nReplyRetries;
    SendCommand();
}

void CKorvelDlg::AdvanceDownload() {
    if (m_bPendingStale) {
        // Drop the late answer and wait for the one to the current request; the timeout still repeats
        // the request when none comes.
        DiscardPendingReply();
        m_nReplyLines = 0;
        m_bReplyOk = 0;
        m_strReplyBody.clear();
        m_nCrcErrorsAtSend = m_nCrcErrors;
        return;
    }
    uint32_t damaged = m_nCrcErrors - m_nCrcErrorsAtSend;
    if (damaged != 0 && m_nReplyRetries < kMaxReplyRetries) {
        DiscardPendingReply();
        ++m_nReplyRetries;
        SendCommand();
        return;
    }
    if (damaged != 0) {
        // Only records the walk now steps over are lost: from the requested index down to the last one
        // that came. A dropped last line of a batch is asked for again by the next request.
        const int last = m_bPendingReadIndex ? m_nPendingReadIndex & kIndexMask : m_nReadIndex;
        const int passed = RingDistance(last, m_nReadIndex & kIndexMask) + 1;
        m_nSkippedRecords +=
            std::min<uint32_t>(damaged, static_cast<uint32_t>(std::max(0, passed - m_nPendingIndexed)));
    }
    m_nReplyRetries = 0;
    m_recordBuffer.insert(m_recordBuffer.end(), std::make_move_iterator(m_pendingRecords.begin()),
                          std::make_move_iterator(m_pendingRecords.end()));
    if (m_bPendingLastSeen) m_strLastSeen = std::move(m_strPendingLastSeen);
    if (m_bPendingReadIndex) m_nReadIndex = m_nPendingReadIndex;
    DiscardPendingReply();

    m_nReadIndex = StepDown(m_nReadIndex);
    if (m_nReadIndex == m_nTailIndex || (!m_strLastSaved.empty() && m_strLastSaved == m_strLastSeen)) {
        FinishDownload();
        return;
    }
    int total = RingDistance(m_nTailIndex, m_nHeadIndex);
    int done = RingDistance(m_nReadIndex, m_nHeadIndex);
    m_window.SetText(IDC_RESULT,
                     total == 0 ? std::u16string() : Format(text::kProgressFormat, done * 100.0 / total));
    m_window.SetProgressPos(IDC_PROGRESS, total == 0 ? 0 : done * kProgressMax / total);
    SendCommand();
}

void CKorvelDlg::FinishDownload() {
    std::u16string path = JoinPath(m_strUploadDir, m_strFileName);
    const std::error_code error = WriteRecordFile(path, m_recordBuffer);
    m_bSaveFailed = static_cast<bool>(error);
    m_strSaveError = error ? error.message() : std::string();
    if (m_bSaveFailed) {
        std::u16string message(text::kSaveFailedPrefix);
        message += path;
        m_window.SetText(IDC_RESULT, message);
    } else {
        m_window.SetText(IDC_RESULT,
                         Format(text::kDownloadDoneFormat, static_cast<unsigned>(m_clock.Now() - m_tStart)));
    }
    if (m_nSkippedRecords != 0)
        m_window.SetText(IDC_MESSAGE, Format(text::kSkippedRecordsFormat, m_nSkippedRecords));
    m_window.SetText(IDC_READ_DATA, text::kReadData);
    m_strCommand.clear();
    for (int id : kWalkControls) m_window.Enable(id, true);
    m_nReplyTimeout = 0;
}

void CKorvelDlg::ScanSavedFiles(const std::u16string& folder, int n) {
    ScanFolder(folder, n, m_strLastSaved, [this](const std::u16string& path) {
        std::u16string message(text::kOpenFileError);
        message += path;
        m_window.MessageBox(message);
    });
}

}  // namespace korvel
