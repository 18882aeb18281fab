// SPDX-License-Identifier: MIT
// The dialog's command and reply exchange: OnSerialData, SendCommand, OnReplyLine, ParseReplyBody,
// RefuseOverlongReply, TickReplyTimeout, FormatRequestLine, RequestedRecords and OnDeviceMessage.
#include <algorithm>
#include <array>
#include <climits>

#include "protocol/record_index.h"
#include "text/format.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

namespace korvel {
namespace {

constexpr int kReplyTimeoutTicks = 3;
constexpr int kMaxTokens = 32;
constexpr int kMaxBatch = 100;
// No legitimate reply is longer than a hundred record lines and its first line; one that passes these
// bounds is refused, so a device that never ends its reply cannot exhaust the memory.
constexpr int kMaxReplyLines = 1000;
constexpr size_t kMaxReplyBody = 256 * 1024;  // characters

}  // namespace

intptr_t CKorvelDlg::OnSerialData(const uint8_t* bytes, int count) {
    if (count <= 0) return 0;
    m_nRxBytes += static_cast<uint32_t>(count);
    m_assembler.AssembleLines(bytes, count, *this);
    return 0;
}

void CKorvelDlg::OnDeviceMessage(std::u16string text) { m_window.SetText(IDC_MESSAGE, text); }

int CKorvelDlg::RequestedRecords() const {
    if (m_nProtocol < 2) return 1;
    // The batch form asks for the records still to fetch, at most a hundred (or what a repetition asks).
    const int limit = std::min(kMaxBatch, m_batch.resend_count.value_or(kMaxBatch));
    int d = m_nReadIndex;
    int k = 0;
    while (d != m_nTailIndex && k < limit) {
        d = StepDown(d);
        ++k;
    }
    return k;
}

std::u16string CKorvelDlg::FormatRequestLine() const {
    if (m_nProtocol < 2) return Format(u"%s %u", m_strCommand, static_cast<unsigned>(m_nReadIndex));
    return Format(u"%s%u %u %d", m_strCommand, 2u, static_cast<unsigned>(m_nReadIndex), -RequestedRecords());
}

void CKorvelDlg::SendCommand() {
    std::u16string line = m_strCommand == u"get" ? FormatRequestLine() : m_strCommand;
    m_window.SetText(IDC_LAST_COMMAND, line);
    line += u'\n';
    const std::string bytes = WideToUtf8(line);
    WritePort(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    // Armed after the write: lines are handled on this thread, so none can slip in between.
    m_nReplyLines = 0;
    m_bReplyOk = 0;
    m_strReplyBody.clear();
    m_bReplyOverlong = false;
    m_nReplyTimeout = kReplyTimeoutTicks;
    // Lines of this reply dropped by the checksum show as the difference.
    m_batch.crc_errors_at_send = m_nCrcErrors;
    m_batch.reply.clear();
    m_batch.stale_index.reset();
    m_lastRefusal = ReplyRefusal::None;
}

void CKorvelDlg::RefuseOverlongReply() {
    // Refused like a reply that did not parse; what follows of it is dropped until the next command.
    m_bReplyOverlong = true;
    m_bReplyOk = 0;
    m_lastRefusal = ReplyRefusal::Overlong;
    std::u16string().swap(m_strReplyBody);
    if (m_strCommand == u"get") OnRecordReplyRefused();
    if (m_strCommand != u"get") {
        m_nReplyTimeout = 0;
        m_strCommand.clear();
    }
}

void CKorvelDlg::OnReplyLine(std::u16string line) {
    if (!line.empty()) m_window.SetText(IDC_MESSAGE, line);
    if (m_nReplyLines < INT_MAX) ++m_nReplyLines;  // lines keep coming with no exchange open
    if (m_nReplyLines == 1) {
        if (line.starts_with(u"OK")) m_bReplyOk = 1;
        return;
    }
    if (m_bReplyOverlong) return;
    if (!line.empty()) {
        if (m_nReplyLines > kMaxReplyLines) {
            RefuseOverlongReply();
            return;
        }
        if (m_bReplyOk) {
            m_strReplyBody += line;
            m_strReplyBody += u'\n';
            if (m_strReplyBody.size() > kMaxReplyBody) {
                RefuseOverlongReply();
                return;
            }
        }
        m_nReplyTimeout = kReplyTimeoutTicks;
        return;
    }
    const bool parsed = ParseReplyBody();
    if (m_strCommand == u"get") {
        if (parsed) {
            AdvanceDownload();
        } else {
            OnRecordReplyRefused();
        }
    }
    if (m_strCommand != u"get") {
        m_nReplyTimeout = 0;
        m_strCommand.clear();
    }
}

bool CKorvelDlg::ParseReplyBody() {
    if (!m_bReplyOk) return RefuseReply(ReplyRefusal::NoOk);
    // The body is used up by the parse: lines arriving after it must not hand these over again.
    const std::u16string body = std::move(m_strReplyBody);
    m_strReplyBody.clear();

    std::array<std::u16string, kMaxTokens> tokens;
    int count = 0;
    size_t start = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        const char16_t c = body[i];
        if (c == u' ' || c == u'\n') {
            if (i > start) tokens[static_cast<size_t>(count++)] = body.substr(start, i - start);
            start = i + 1;
            if (c == u'\n') {
                if (m_strCommand == u"info") {
                    if (!StoreDeviceInfo(count, tokens.data())) return RefuseReply(ReplyRefusal::Rejected);
                } else if (m_strCommand == u"get") {
                    if (!StoreRecord(count, tokens.data())) return RefuseReply(ReplyRefusal::Rejected);
                }
                count = 0;
                continue;
            }
        }
        // A 33rd token, or a space behind the 32nd, is more than a line may hold.
        if (count >= kMaxTokens) return RefuseReply(ReplyRefusal::TooManyWords);
    }
    return true;
}

bool CKorvelDlg::RefuseReply(ReplyRefusal why) {
    m_lastRefusal = why;
    return false;
}

void CKorvelDlg::TickReplyTimeout() {
    if (m_nReplyTimeout <= 0) return;
    if (--m_nReplyTimeout != 0) return;
    if (m_strCommand == u"get" && m_nTailIndex != m_nReadIndex) SendCommand();
    if (m_nReplyLines < 2) m_window.SetText(IDC_RESULT, text::kNoReply);
}

}  // namespace korvel
