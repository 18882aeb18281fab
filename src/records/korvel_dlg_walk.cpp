// SPDX-License-Identifier: MIT
// The dialog's download walk: OnReadData, StoreRecord, AdvanceDownload, OnRecordReplyRefused,
// FinishDownload and ScanSavedFiles.
#include <algorithm>

#include "ledger/ledger.h"
#include "protocol/checked_line.h"
#include "protocol/record_index.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "text/format.h"
#include "text/number.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

namespace korvel {
namespace {

constexpr int kProgressMax = 10000;
// Immediate repetitions of a request whose reply had lines damaged on the wire; after them the reply is
// taken as it came, so a line that always fails cannot stall the download. A reply the device refused
// is not repeated at once: the exchange stays open and its timeout repeats it, which gives a device
// that is busy time to recover.
constexpr int kMaxReplyRetries = 3;
constexpr int kWalkControls[] = {IDC_READ_INFO, IDC_SYNC_TIME, IDC_PORT, IDC_BAUD};

RecordBatch BatchAt(int top) {
    RecordBatch batch;
    batch.top = top;
    return batch;
}

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

    // The file is written whole at the end: a folder that cannot take it is found out before the device
    // is asked anything, not after the walk.
    if (Failure problem =
            SaveFolderProblem(WideToUtf8(m_strUploadDir), RingDistance(m_nTailIndex, m_nHeadIndex))) {
        m_bSaveFailed = true;
        m_saveFailure = problem;
        std::u16string message(text::kSaveFailedPrefix);
        message += m_strUploadDir;
        message += u"：";
        message += Utf8ToWide(problem.reason);
        m_window.SetText(IDC_RESULT, message);
        return;
    }
    m_recordBuffer.clear();
    m_stStart = m_clock.Local();
    int n = ToInt(m_strProductNo);
    // Nothing is deleted: a file of this name (a download in the same second) is scanned like any other,
    // and the save takes the next free name.
    m_strFileName = MakeRecordFileName(m_stStart, n);
    m_strLastSaved.clear();
    // The scan may show a message box, whose loop goes on running the timer and the reader: a port lost
    // meanwhile has been handled already, and a walk must not start on it.
    // A port lost and opened again meanwhile is another connection, whose device information was not read.
    const int open_before = m_link.m_bOpen;
    const int shown_before = m_nShownOpenState;
    const uint32_t closes_before = m_nPortCloses;
    ScanSavedFiles(m_strUploadDir, n);
    if (m_link.m_bOpen != open_before || m_nShownOpenState != shown_before || m_nPortCloses != closes_before)
        return;
    // Only records accepted by this walk may end it at the saved key.
    m_strLastSeen.clear();
    m_skippedIndices.clear();
    m_bSaveFailed = false;
    m_saveFailure = {};
    m_nReadIndex = m_nHeadIndex;
    m_batch = BatchAt(m_nReadIndex);
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
    ReplyRecord stored;
    if (count >= 5) {
        const int index = ToInt(tokens[4]) & kIndexMask;
        // A record above the batch, up to the newest, was asked for by an earlier request: this is the
        // answer to that one, come after its timeout had already repeated it. (Records below the batch
        // are the device's choice and are taken.)
        const int top = m_batch.top;
        if (index != top && RingDistance(top, index) <= RingDistance(top, m_nHeadIndex))
            m_batch.stale_index = index;
        stored.index = index;
    }
    stored.key = std::u16string_view(record).substr(0, kTimestampKeyLength);
    stored.line = MakeRecordLine(record);
    m_batch.reply.push_back(std::move(stored));
    return true;
}

void CKorvelDlg::OnRecordReplyRefused() {
    // Nothing of the refused reply is kept; the timeout repeats the request.
    m_batch.reply.clear();
    m_batch.stale_index.reset();
}

void CKorvelDlg::AdvanceDownload() {
    RecordBatch& batch = m_batch;
    if (batch.stale_index) {
        // Drop the late answer and wait for the one to the current request; the timeout still repeats
        // the request when none comes.
        batch.reply.clear();
        batch.stale_index.reset();
        m_nReplyLines = 0;
        m_bReplyOk = 0;
        m_strReplyBody.clear();
        batch.crc_errors_at_send = m_nCrcErrors;
        return;
    }
    const int damaged =
        static_cast<int>(std::min<uint32_t>(m_nCrcErrors - batch.crc_errors_at_send, kRingSize));
    const bool may_repeat = damaged != 0 && batch.retries < kMaxReplyRetries;
    // The request's records, by their distance below the batch's top.
    const int first = RingDistance(m_nReadIndex & kIndexMask, batch.top);
    const int asked = RequestedRecords();

    // Lines name their index; a line that names none stands at its place in the reply, which is known
    // only while no line before it was dropped: with a damaged line among them they wait for a clean reply
    // (or, after the last repetition, are taken as they came).
    int place = first;
    bool placed_by_guess = false;  // lines without an index, taken by place from a damaged reply
    for (ReplyRecord& record : batch.reply) {
        const int distance = record.index ? RingDistance(*record.index, batch.top) : place;
        place = distance + 1;
        if (!record.index && damaged != 0) {
            if (may_repeat) continue;
            placed_by_guess = true;
        }
        batch.kept.try_emplace(distance, std::move(record));
    }
    batch.reply.clear();

    // How far down the batch reaches: its lowest record kept.
    std::optional<int> lowest;
    if (!batch.kept.empty()) lowest = batch.kept.rbegin()->first;
    // A repetition asks for records whose lines came damaged: one it does not bring, above the lowest
    // record kept, is still missing, however clean the reply itself was.
    int missing = damaged;
    if (missing == 0 && batch.resend_count && lowest) {
        for (int d = first; d <= std::min(first + asked - 1, *lowest); ++d)
            missing += batch.kept.count(d) ? 0 : 1;
    }
    if (missing != 0) {
        // Missing records of this request: the holes down to the lowest record kept. Damaged lines beyond
        // the holes lie below it.
        const int last = std::min(first + asked - 1, lowest.value_or(first - 1));
        std::vector<int> holes;
        for (int d = first; d <= last; ++d)
            if (!batch.kept.count(d)) holes.push_back(d);
        const bool below = missing > static_cast<int>(holes.size());
        if (batch.retries < kMaxReplyRetries) {
            const int from = holes.empty() ? last + 1 : holes.front();
            const int to = below ? first + asked - 1 : holes.back();
            if (from <= to) {
                ++batch.retries;
                m_nReadIndex = (batch.top - from) & kIndexMask;
                batch.resend_count = to - from + 1;
                SendCommand();
                return;
            }
        } else if (placed_by_guess || batch.kept.empty()) {
            // Where the dropped lines stood is unknown, or none came intact in any reply: they stand for
            // the records after the last line that came.
            const int lost = std::min(missing, asked);
            for (int d = place; d < place + lost; ++d)
                m_skippedIndices.push_back((batch.top - d) & kIndexMask);
            lowest = std::max(lowest.value_or(0), place + lost - 1);
        } else {
            // Damaged lines below the lowest record kept are asked for by the next batch, which starts there.
            holes.resize(std::min<size_t>(holes.size(), static_cast<size_t>(missing)));
            for (int d : holes) m_skippedIndices.push_back((batch.top - d) & kIndexMask);
        }
    }

    // The batch in index order, newest first. The device only appends, so every record met before the
    // saved one is new, whatever its timestamp; the walk ends on the saved one.
    for (auto& [distance, record] : batch.kept) {
        m_strLastSeen = std::move(record.key);
        m_recordBuffer.push_back(std::move(record.line));
        if (!m_strLastSaved.empty() && m_strLastSeen == m_strLastSaved) break;
    }
    m_nReadIndex = StepDown((batch.top - lowest.value_or(0)) & kIndexMask);
    batch = BatchAt(m_nReadIndex);

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
    std::u16string name;
    m_saveFailure = SaveRecordFile(m_strUploadDir, m_stStart, ToInt(m_strProductNo), m_recordBuffer, name);
    m_bSaveFailed = static_cast<bool>(m_saveFailure);
    if (m_bSaveFailed) {
        std::u16string message(text::kSaveFailedPrefix);
        message += JoinPath(m_strUploadDir, m_strFileName);
        m_window.SetText(IDC_RESULT, message);
    } else if (Failure unrecorded = AppendLedgerEntry(WideToUtf8(m_strUploadDir), WideToUtf8(name),
                                                      static_cast<uint64_t>(ToInt(m_strProductNo)))) {
        // The file stays as saved; the download still fails, loudly, since it cannot be proven later.
        m_strFileName = std::move(name);
        m_bSaveFailed = true;
        m_saveFailure = unrecorded;
        m_saveFailure.message = SavedButNotRecorded(WideToUtf8(SavedFilePath()), unrecorded);
        std::u16string message(text::kNotRecordedPrefix);
        message += SavedFilePath();
        m_window.SetText(IDC_RESULT, message);
    } else {
        m_strFileName = std::move(name);
        m_window.SetText(IDC_RESULT,
                         Format(text::kDownloadDoneFormat, static_cast<unsigned>(m_clock.Now() - m_tStart)));
    }
    if (!m_skippedIndices.empty())
        m_window.SetText(IDC_MESSAGE,
                         Format(text::kSkippedRecordsFormat, static_cast<uint32_t>(m_skippedIndices.size())));
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
