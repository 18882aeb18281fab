// SPDX-License-Identifier: MIT
// The information line: arbitrary tokens, checked against an independent reading of them.
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/utf8.h"
#include "ui/controls.h"

using korvel::fuzz::Check;

namespace {

// The device's numbers: blanks skipped, a sign, digits up to the first other character, saturating.
long long Number(const std::u16string& s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == u' ' || (s[i] >= u'\t' && s[i] <= u'\r'))) ++i;
    const bool negative = i < s.size() && s[i] == u'-';
    if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) ++i;
    long long v = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9' && v <= INT_MAX; ++i) v = v * 10 + (s[i] - u'0');
    v = negative ? -v : v;
    return v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : v;
}

int Index(const std::u16string& s) { return static_cast<int>((Number(s) - 1) & 0x7FFF); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The tokens are the input's pieces between zero bytes, at most 32 as the exchange hands over.
    std::vector<std::u16string> tokens;
    std::string piece;
    for (size_t i = 0; i <= size && tokens.size() < 32; ++i) {
        if (i == size || data[i] == 0) {
            tokens.push_back(korvel::Utf8ToWide(piece));
            piece.clear();
        } else {
            piece += static_cast<char>(data[i]);
        }
    }
    korvel::fuzz::Bench bench;
    korvel::CKorvelDlg& d = bench.dlg;
    d.m_strCommand = u"info";
    const int count = static_cast<int>(tokens.size());
    const bool stored = d.StoreDeviceInfo(count, tokens.data());
    Check(stored == (count >= 8));
    if (!stored) {
        Check(d.m_strFirmware.empty() && d.m_strProductNo.empty() && d.m_strCommand.empty());
        Check(d.m_nHeadIndex == 0 && d.m_nTailIndex == 0 && d.m_nProtocol == 0);
        Check(bench.window.Text(korvel::IDC_RECORD_COUNT) == u"0 (0.0小时)");
        Check(!bench.window.Visible(korvel::IDC_READ_DATA));
        return 0;
    }
    Check(d.m_strFirmware == tokens[0] + u" " + tokens[1] + u" " + tokens[2]);
    Check(d.m_nProtocol == Number(tokens[1]));
    Check(d.m_strProductNo == tokens[3]);
    Check(d.m_nHeadIndex == Index(tokens[4]) && d.m_nTailIndex == Index(tokens[5]));
    Check(d.m_strDeviceTime == tokens[6] + u" " + tokens[7]);
    Check(d.m_strPcTime == u"2024-03-05 07:08:09");

    const int count_shown = (d.m_nHeadIndex - d.m_nTailIndex + 0x8000) % 0x8000;
    char expected[64];
    std::snprintf(expected, sizeof expected, "%d (%.1f", count_shown, count_shown * 121 / 3600.0);
    Check(bench.window.Text(korvel::IDC_RECORD_COUNT) == korvel::Utf8ToWide(expected) + u"小时)");
    Check(bench.window.Visible(korvel::IDC_READ_DATA) == (count_shown > 0));
    Check(bench.window.Visible(korvel::IDC_SYNC_TIME) == (count_shown > 0));
    Check(bench.window.Text(korvel::IDC_PRODUCT_NO) == d.m_strProductNo);
    return 0;
}
