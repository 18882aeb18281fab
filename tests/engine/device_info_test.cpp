// SPDX-License-Identifier: MIT
// The information reply, the clock-setting command and the UTC offset, on the dialog with fake ports.
// The framing of the reply is in exchange_test.cpp; against the simulator in e2e/engine_sim_test.cpp.
// The UTC offset under POSIX time zones is in device_info_posix_test.cpp.
#include <gtest/gtest.h>

#include <string>

#include "support/dialog_rig.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::DialogRig;

void ReadInfo(DialogRig& rig, std::u16string_view line) {
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", line, u""});
}

TEST(DeviceInfo, InformationLineFillsEveryField) {
    struct Case {
        std::u16string_view line;
        std::u16string_view firmware;
        int protocol, head, tail;
        std::u16string_view count_text;
        bool buttons;
    };
    const Case cases[] = {
        {u"A 2 B 1234 100 1 2024-03-05 07:08:09", u"A 2 B", 2, 99, 0, u"99 (3.3小时)", true},
        {u"A 2 B 1234 100 1 2024-03-05 07:08:09 4b37", u"A 2 B", 2, 99, 0, u"99 (3.3小时)", true},
        {u"A 2 B 1234 101 1 2024-03-05 07:08:09", u"A 2 B", 2, 100, 0, u"100 (3.4小时)", true},
        {u"V1 0 rc 9 1 1 2024-03-05 07:08:09", u"V1 0 rc", 0, 0, 0, u"0 (0.0小时)", false},
        {u"A 3 B 1234 5 32000 2024-03-05 07:08:09", u"A 3 B", 3, 4, 31999, u"773 (26.0小时)", true},
        {u"A 1 B 1234 0 1 2024-03-05 07:08:09", u"A 1 B", 1, 32767, 0, u"32767 (1101.3小时)", true},
        {u"A x B 1234 y z 2024-03-05 07:08:09", u"A x B", 0, 32767, 32767, u"0 (0.0小时)", false},
        {u"A 2rc B 1234 +7 -1 2024-03-05 07:08:09", u"A 2rc B", 2, 6, 32766, u"8 (0.3小时)", true},
        {u"A 2 B 1234 99999999999 1 d t", u"A 2 B", 2, 32766, 0, u"32766 (1101.3小时)", true},
    };
    for (const Case& c : cases) {
        DialogRig rig;
        ReadInfo(rig, c.line);
        SCOPED_TRACE(std::string(c.line.begin(), c.line.end()));
        EXPECT_EQ(rig.dlg.m_strFirmware, c.firmware);
        EXPECT_EQ(rig.dlg.m_nProtocol, c.protocol);
        EXPECT_EQ(rig.dlg.m_nHeadIndex, c.head);
        EXPECT_EQ(rig.dlg.m_nTailIndex, c.tail);
        EXPECT_EQ(rig.Text(IDC_FIRMWARE), c.firmware);
        EXPECT_EQ(rig.Text(IDC_RECORD_COUNT), c.count_text);
        EXPECT_EQ(rig.window.Visible(IDC_READ_DATA), c.buttons);
        EXPECT_EQ(rig.window.Visible(IDC_SYNC_TIME), c.buttons);
    }
}

TEST(DeviceInfo, ShownFieldsAndPcTime) {
    DialogRig rig;
    rig.clock.local = LocalTime{2025, 12, 31, 23, 59, 58};
    rig.window.SetText(IDC_RESULT, u"old status");
    ReadInfo(rig, u"A 2 B 1234 100 1 2024-03-05 07:08:09");
    EXPECT_EQ(rig.Text(IDC_PRODUCT_NO), u"1234");
    EXPECT_EQ(rig.Text(IDC_FIRMWARE), u"A 2 B");
    EXPECT_EQ(rig.Text(IDC_DEVICE_TIME), u"2024-03-05 07:08:09");
    EXPECT_EQ(rig.Text(IDC_PC_TIME), u"2025-12-31 23:59:58");
    EXPECT_EQ(rig.dlg.m_strPcTime, u"2025-12-31 23:59:58");
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
}

TEST(DeviceInfo, ReadInfoClearsTheDisplayAtOnce) {
    DialogRig rig;
    ReadInfo(rig, u"A 2 B 1234 100 1 2024-03-05 07:08:09");
    ASSERT_TRUE(rig.window.Visible(IDC_READ_DATA));
    rig.dlg.OnReadInfo();
    EXPECT_EQ(rig.Text(IDC_PRODUCT_NO), u"");
    EXPECT_EQ(rig.Text(IDC_FIRMWARE), u"");
    EXPECT_EQ(rig.Text(IDC_DEVICE_TIME), u"");
    EXPECT_EQ(rig.Text(IDC_PC_TIME), u"");
    EXPECT_EQ(rig.Text(IDC_RECORD_COUNT), u"0 (0.0小时)");
    EXPECT_FALSE(rig.window.Visible(IDC_READ_DATA));
    EXPECT_FALSE(rig.window.Visible(IDC_SYNC_TIME));
    EXPECT_EQ(rig.dlg.m_nProtocol, 0);  // the info line is never checksum-tested
    EXPECT_EQ(rig.dlg.m_strCommand, u"info");
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"info");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 3);
}

TEST(DeviceInfo, ShortLineClearsEverythingIncludingTheCommand) {
    DialogRig rig;
    ReadInfo(rig, u"A 2 B 1234 100 1 2024-03-05 07:08:09");
    rig.dlg.m_strCommand = u"info";
    const std::u16string tokens[] = {u"A", u"2", u"B", u"1234", u"100", u"1", u"2024-03-05"};
    EXPECT_FALSE(rig.dlg.StoreDeviceInfo(7, tokens));
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_strProductNo, u"");
    EXPECT_EQ(rig.dlg.m_strFirmware, u"");
    EXPECT_EQ(rig.dlg.m_strDeviceTime, u"");
    EXPECT_EQ(rig.dlg.m_strPcTime, u"");
    EXPECT_EQ(rig.dlg.m_nHeadIndex, 0);
    EXPECT_EQ(rig.dlg.m_nTailIndex, 0);
    EXPECT_EQ(rig.dlg.m_nProtocol, 0);
    EXPECT_EQ(rig.Text(IDC_PRODUCT_NO), u"");
    EXPECT_EQ(rig.Text(IDC_RECORD_COUNT), u"0 (0.0小时)");
    EXPECT_FALSE(rig.window.Visible(IDC_READ_DATA));
    EXPECT_FALSE(rig.window.Visible(IDC_SYNC_TIME));
}

TEST(DeviceInfo, ShortLineInAReplyFailsTheParse) {
    DialogRig rig;
    rig.dlg.OnReadInfo();
    rig.Reply({u"OK", u"A 2 B 1234 100 1 2024-03-05"});
    EXPECT_FALSE(rig.dlg.ParseReplyBody());
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
}

TEST(DeviceInfo, SyncTimeSendsThePcClock) {
    struct Case {
        LocalTime t;
        std::u16string_view line;
    };
    for (const Case& c : {Case{{2024, 3, 5, 7, 8, 9}, u"time 2024-03-05 07:08:09"},
                          Case{{999, 12, 31, 23, 0, 0}, u"time 0999-12-31 23:00:00"}}) {
        DialogRig rig;
        ReadInfo(rig, u"A 2 B 1234 100 1 2024-03-05 07:08:09");
        rig.clock.local = c.t;
        rig.dlg.OnSyncTime();
        EXPECT_EQ(rig.dlg.m_strCommand, c.line);
        EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), c.line);
        EXPECT_EQ(rig.Text(IDC_DEVICE_TIME), u"2024-03-05 07:08:09");  // not refreshed until asked again
        rig.Reply({u"OK", u"whatever 1 2 3 4 5 6 7 8", u""});
        EXPECT_EQ(rig.dlg.m_strProductNo, u"1234");
        EXPECT_EQ(rig.dlg.m_strCommand, u"");
    }
}

}  // namespace
}  // namespace korvel
