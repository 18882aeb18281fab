// SPDX-License-Identifier: MIT
// The dialog's device information: OnReadInfo, StoreDeviceInfo, ShowDeviceInfo and ResetDeviceInfo,
// the clock setting OnSyncTime, and FormatUtcOffset.
#include <cstdlib>
#include <ctime>

#include "protocol/record_index.h"
#include "text/format.h"
#include "text/number.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/texts.h"

namespace korvel {
namespace {

constexpr int kInfoTokens = 8;

}  // namespace

void CKorvelDlg::OnReadInfo() {
    ResetDeviceInfo();
    ShowDeviceInfo();
    m_strCommand = u"info";
    SendCommand();
}

bool CKorvelDlg::StoreDeviceInfo(int count, const std::u16string* tokens) {
    if (count < kInfoTokens) {
        ResetDeviceInfo();
        ShowDeviceInfo();
        return false;
    }
    m_strFirmware = Format(u"%s %s %s", tokens[0], tokens[1], tokens[2]);
    m_nProtocol = ToInt(tokens[1]);
    m_strProductNo = tokens[3];
    // The device counts its records from 1; the ring indices start at 0.
    m_nHeadIndex = StepDown(ToInt(tokens[4]));
    m_nTailIndex = StepDown(ToInt(tokens[5]));
    m_strDeviceTime = tokens[6] + u" " + tokens[7];
    const LocalTime now = m_clock.Local();
    m_strPcTime = Format(u"%u-%02u-%02u %02u:%02u:%02u", now.year, now.month, now.day, now.hour, now.minute,
                         now.second);
    ShowDeviceInfo();
    return true;
}

void CKorvelDlg::ShowDeviceInfo() {
    m_window.SetText(IDC_PRODUCT_NO, m_strProductNo);
    m_window.SetText(IDC_FIRMWARE, m_strFirmware);
    const auto count = static_cast<unsigned>(RingDistance(m_nTailIndex, m_nHeadIndex));
    m_window.Show(IDC_READ_DATA, count > 0);
    m_window.Show(IDC_SYNC_TIME, count > 0);
    m_window.SetText(IDC_RECORD_COUNT,
                     Format(text::kRecordCountFormat, count, (count * kSecondsPerRecord) / 3600.0));
    m_window.SetText(IDC_DEVICE_TIME, m_strDeviceTime);
    m_window.SetText(IDC_PC_TIME, m_strPcTime);
    m_window.SetText(IDC_RESULT, u"");
}

void CKorvelDlg::ResetDeviceInfo() {
    m_strProductNo.clear();
    m_strFirmware.clear();
    m_strDeviceTime.clear();
    m_strPcTime.clear();
    m_nHeadIndex = 0;
    m_nTailIndex = 0;
    m_nProtocol = 0;
    m_strCommand.clear();
}

void CKorvelDlg::OnSyncTime() {
    const LocalTime now = m_clock.Local();
    m_strCommand = Format(u"time %04u-%02u-%02u %02u:%02u:%02u", now.year, now.month, now.day, now.hour,
                          now.minute, now.second);
    SendCommand();
}

void CKorvelDlg::FormatUtcOffset() {
    // UTC broken down, then read back as if it were local time with daylight saving off: the offset is
    // that of standard time all year round.
    const auto t = static_cast<std::time_t>(m_clock.Now());
    std::tm broken{};
    int32_t s = 0;
    if (gmtime_r(&t, &broken) != nullptr) {
        broken.tm_isdst = 0;
        const std::time_t local = std::mktime(&broken);
        if (local != static_cast<std::time_t>(-1)) s = static_cast<int32_t>(t - local);
    }
    const int hours = s / 3600;
    const int minutes = std::abs((s / 60) - ((s / 60) / 60) * 60);
    m_strUtcOffset = Format(u"%+03d:%02d", hours, minutes);
}

}  // namespace korvel
