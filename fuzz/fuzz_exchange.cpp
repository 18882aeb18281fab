// SPDX-License-Identifier: MIT
// The command and reply exchange with its tokenising, fed an arbitrary received stream. The first byte
// chooses the command waiting for a reply and the protocol level, the second the chunk size.
#include <string>

#include "fuzz_support.h"
#include "protocol/record_index.h"
#include "text/utf8.h"
#include "ui/controls.h"

using korvel::fuzz::Check;

namespace {

bool HasNoLineBreak(const std::u16string& s) { return s.find(u'\n') == std::u16string::npos; }

size_t Count(const std::u16string& s, char16_t c) {
    size_t n = 0;
    for (char16_t x : s) n += x == c;
    return n;
}

// What the exchange may leave behind, whatever the bytes were.
void CheckState(korvel::fuzz::Bench& bench) {
    const korvel::CKorvelDlg& d = bench.dlg;
    Check(d.m_nReplyLines >= 0);
    Check(d.m_nReplyTimeout >= 0 && d.m_nReplyTimeout <= 3);
    // The body is whole lines, collected only behind an accepted first line.
    Check(d.m_strReplyBody.empty() || (d.m_bReplyOk && d.m_strReplyBody.back() == u'\n'));
    Check(d.m_strReplyBody.find(u"\n\n") == std::u16string::npos);
    // Tokens never hold a space or a line break: the firmware text is three of them.
    if (!d.m_strFirmware.empty()) {
        Check(HasNoLineBreak(d.m_strFirmware) && Count(d.m_strFirmware, u' ') == 2);
        Check(!d.m_strProductNo.empty() && Count(d.m_strProductNo, u' ') == 0);
        Check(HasNoLineBreak(d.m_strProductNo));
        Check(Count(d.m_strDeviceTime, u' ') == 1 && HasNoLineBreak(d.m_strDeviceTime));
    }
    Check(d.m_nHeadIndex >= 0 && d.m_nHeadIndex <= korvel::kIndexMask);
    Check(d.m_nTailIndex >= 0 && d.m_nTailIndex <= korvel::kIndexMask);
    // Every record taken into the file holds its checksum.
    for (const std::string& line : d.m_recordBuffer) {
        Check(!line.empty() && line.back() == '\n');
        Check(korvel::fuzz::HasValidChecksum(std::string_view(line).substr(0, line.size() - 1)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const char16_t* const kCommands[] = {u"info", u"get", u"time 2024-03-05 07:08:09", u""};
    korvel::fuzz::Bench bench;
    korvel::CKorvelDlg& d = bench.dlg;
    d.m_strUploadDir = korvel::Utf8ToWide(korvel::fuzz::ScratchFolder());
    d.m_strProductNo = u"1234";
    d.m_nHeadIndex = 40;
    d.m_nTailIndex = 0;
    d.m_nProtocol = data[0] & 3;
    d.m_strCommand = kCommands[(data[0] >> 2) & 3];
    if (d.m_strCommand == u"get") d.m_nReadIndex = d.m_nHeadIndex;
    d.SendCommand();
    const size_t chunk = 1 + data[1] % 64;
    data += 2;
    size -= 2;

    // In pieces, with a timer tick between some of them.
    for (size_t at = 0; at < size; at += chunk) {
        const size_t n = size - at < chunk ? size - at : chunk;
        bench.Receive(data + at, n, n);
        CheckState(bench);
        if (data[at] == 0xFF) d.TickReplyTimeout();
    }
    // The record count shown matches the indices that the information left.
    const auto shown = korvel::WideToUtf8(bench.window.Text(korvel::IDC_RECORD_COUNT));
    if (!shown.empty()) {
        const unsigned count = static_cast<unsigned>(korvel::RingDistance(d.m_nTailIndex, d.m_nHeadIndex));
        Check(shown.starts_with(std::to_string(count) + " ("));
    }
    korvel::fuzz::ClearScratchFolder();
    return 0;
}
