// SPDX-License-Identifier: MIT
// The dialog's states on the rig with fake ports: buttons, remembered settings, the heartbeat, closing.
// Each subsystem's handlers have their own files (engine/, serial/, records/); a port lost while the
// scan's box is open is in dialog_posix_test.cpp.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "support/dialog_rig.h"
#include "support/test_ports.h"
#include "text/utf8.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kAdapter0;
using testing::kAdapter1;
using testing::kAdapter2;

using testing::DialogRig;

constexpr std::string_view kInfoReply = "OK\r\nA 2 B 1234 100 1 2024-03-05 07:08:09\r\n\r\n";

// What the operator sees of the buttons and the status; Any where a state leaves it open.
enum class Is { Any, Yes, No };

struct Look {
    std::u16string_view status;
    Is info_shown, info_enabled;
    Is data_shown, data_enabled;
    std::u16string_view data_text;  // empty: any
    Is sync_shown, sync_enabled;
    bool choice_enabled;  // port and rate combo boxes
};

constexpr Look kNeverOpen{u"", Is::No, Is::Any, Is::No, Is::Any, u"", Is::No, Is::Any, true};
constexpr Look kClosedAfterOpen{text::kPortClosed, Is::No, Is::No,  Is::No, Is::Yes,
                                text::kReadData,   Is::No, Is::Yes, true};
constexpr Look kOpenNoInfo{text::kPortOpen, Is::Yes, Is::Yes, Is::No, Is::Any, u"", Is::No, Is::Any, true};
constexpr Look kInfoShown{text::kPortOpen, Is::Yes, Is::Yes, Is::Yes, Is::Yes,
                          text::kReadData, Is::Yes, Is::Yes, true};
constexpr Look kDownloading{text::kPortOpen,     Is::Yes, Is::No, Is::Yes, Is::Yes,
                            text::kStopReadData, Is::Yes, Is::No, false};

void Check(const char* what, Is expected, bool actual) {
    if (expected != Is::Any) {
        EXPECT_EQ(actual, expected == Is::Yes) << what;
    }
}

void ExpectLook(const DialogRig& rig, const Look& look) {
    const MemoryWindow& w = rig.window;
    EXPECT_EQ(w.Text(IDC_PORT_STATUS), look.status);
    Check("1013 shown", look.info_shown, w.Visible(IDC_READ_INFO));
    Check("1013 enabled", look.info_enabled, w.Enabled(IDC_READ_INFO));
    Check("1012 shown", look.data_shown, w.Visible(IDC_READ_DATA));
    Check("1012 enabled", look.data_enabled, w.Enabled(IDC_READ_DATA));
    if (!look.data_text.empty()) {
        EXPECT_EQ(w.Text(IDC_READ_DATA), look.data_text);
    }
    Check("1020 shown", look.sync_shown, w.Visible(IDC_SYNC_TIME));
    Check("1020 enabled", look.sync_enabled, w.Enabled(IDC_SYNC_TIME));
    EXPECT_EQ(w.Enabled(IDC_PORT), look.choice_enabled) << "1001 enabled";
    EXPECT_EQ(w.Enabled(IDC_BAUD), look.choice_enabled) << "1006 enabled";
}

struct OpenRig : DialogRig {
    OpenRig() {
        ports.names = {kAdapter0.name, kAdapter1.name};
        Init();
    }
};

TEST(Dialog, EveryStateAndTransitionOfTheButtons) {
    OpenRig rig;
    {
        SCOPED_TRACE("after start");
        ExpectLook(rig, kNeverOpen);
    }
    rig.Tick();
    {
        SCOPED_TRACE("port opened on the first tick");
        ExpectLook(rig, kOpenNoInfo);
    }
    rig.Click(IDC_READ_INFO);
    EXPECT_EQ(rig.device->Written(), "info\n");
    rig.device->Deliver(kInfoReply);
    {
        SCOPED_TRACE("information with records");
        ExpectLook(rig, kInfoShown);
    }
    rig.Click(IDC_READ_INFO);
    {
        SCOPED_TRACE("asking again hides the record buttons until the answer");
        ExpectLook(rig, kOpenNoInfo);
    }
    rig.device->Deliver("OK\nA 2 B 1234 1 1 2024-03-05 07:08:09\n\n");
    {
        SCOPED_TRACE("no records");
        ExpectLook(rig, kOpenNoInfo);
    }
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    rig.Click(IDC_READ_DATA);
    {
        SCOPED_TRACE("download running");
        ExpectLook(rig, kDownloading);
    }
    rig.Click(IDC_READ_DATA);
    {
        SCOPED_TRACE("download stopped");
        ExpectLook(rig, kInfoShown);
        EXPECT_EQ(rig.Text(IDC_RESULT), text::kCancelled);
    }
    rig.device->Lose();
    rig.Tick();
    {
        SCOPED_TRACE("port lost");
        ExpectLook(rig, kClosedAfterOpen);
        EXPECT_EQ(rig.Text(IDC_PRODUCT_NO), u"");
        EXPECT_EQ(rig.Text(IDC_RECORD_COUNT), u"0 (0.0小时)");
    }
    rig.Tick();
    ExpectLook(rig, kClosedAfterOpen);
    rig.device->refuse = FailureKind::None;
    rig.Tick();
    {
        SCOPED_TRACE("device back");
        ExpectLook(rig, kOpenNoInfo);
    }
}

TEST(Dialog, AbandonedDownloadSaysSoAndGivesBackThePortAndRateChoice) {
    OpenRig rig;
    rig.Tick();
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    rig.Click(IDC_READ_DATA);
    ASSERT_EQ(rig.dlg.m_strCommand, u"get");
    ASSERT_FALSE(rig.window.Enabled(IDC_PORT));
    rig.device->Deliver("OK\r\n2024-03-05 07:08:09 1 1234 99 ");  // cut in the middle of a record line

    rig.device->Lose();
    ExpectLook(rig, kClosedAfterOpen);  // at once, not only at the next tick
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kDownloadCutByPort);
    rig.Tick();
    ExpectLook(rig, kClosedAfterOpen);
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kDownloadCutByPort);
    EXPECT_TRUE(rig.window.Enabled(IDC_PORT));
    EXPECT_TRUE(rig.window.Enabled(IDC_BAUD));
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    EXPECT_EQ(rig.dlg.RecordsHeld(), 0u);
    EXPECT_TRUE(std::filesystem::is_empty(WideToUtf8(rig.dlg.UploadFolder())));

    // The adapter came back under another name: the operator can pick it at once.
    rig.device->refuse = FailureKind::None;
    rig.Pick(IDC_PORT, 1);
    EXPECT_EQ(rig.device->path, kAdapter1.path);
    rig.Tick();
    ExpectLook(rig, kOpenNoInfo);
}

TEST(Dialog, AdapterBackUnderAnotherNameCanBePickedAfterAnAbandonedDownload) {
    OpenRig rig;
    rig.Tick();
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    rig.Click(IDC_READ_DATA);

    rig.ports.names = {kAdapter1.name};  // the adapter went, and came back as another device
    rig.Send(Message{Msg::DeviceChange, 0, Notify::None, DBT_DEVICEREMOVECOMPLETE});
    EXPECT_FALSE(rig.device->IsOpen());
    EXPECT_EQ(rig.window.ComboSelection(IDC_PORT), -1);
    rig.Tick();
    ExpectLook(rig, kClosedAfterOpen);

    rig.Pick(IDC_PORT, 0);
    EXPECT_EQ(rig.device->path, kAdapter1.path);
    rig.Tick();
    ExpectLook(rig, kOpenNoInfo);
}

// A closed or lost port leaves nothing of its connection behind: a line that the close cut off does not
// swallow the first line of the next connection's first reply.
TEST(Dialog, AReplyCutByTheClosingPortLeavesNothingForTheNextConnection) {
    enum class Cut { Lost, RateChanged, PortChanged };
    struct Case {
        const char* what;
        std::string_view received;  // of the reply to "info" when the port closes
        Cut cut;
    };
    const Case cases[] = {
        {"lost in the first line", "O", Cut::Lost},
        {"lost in the information line", "OK\r\nA 2 B 12", Cut::Lost},
        {"lost between CR and LF", "OK\r\nA 2 B 1234 100 1 2024-03-05 07:08:09\r", Cut::Lost},
        {"lost before the closing empty line", "OK\r\nA 2 B 1234 100 1 2024-03-05 07:08:09\r\n", Cut::Lost},
        {"another rate", "OK\r\nA 2 B 12", Cut::RateChanged},
        {"another port", "OK\r\nA 2 B 12", Cut::PortChanged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OpenRig rig;
        rig.Tick();
        rig.Click(IDC_READ_INFO);
        rig.device->Deliver(c.received);
        switch (c.cut) {
            case Cut::Lost:
                rig.device->Lose();
                rig.device->refuse = FailureKind::None;  // back before the next tick
                rig.Tick();
                break;
            case Cut::RateChanged:
                rig.Pick(IDC_BAUD, 7);
                break;
            case Cut::PortChanged:
                rig.Pick(IDC_PORT, 1);
                break;
        }
        ASSERT_TRUE(rig.device->IsOpen());
        // The old exchange is over: its timeout says nothing.
        for (int i = 0; i < 3; ++i) rig.Tick();
        EXPECT_EQ(rig.Text(IDC_RESULT), u"");
        EXPECT_FALSE(rig.dlg.ExchangePending());

        rig.Click(IDC_READ_INFO);
        rig.device->Deliver(kInfoReply);
        EXPECT_EQ(rig.dlg.LastOutcome(), CKorvelDlg::Outcome::Answered);
        EXPECT_EQ(rig.Text(IDC_PRODUCT_NO), u"1234");
        ExpectLook(rig, kInfoShown);
    }
}

// A port list that cannot be read is not an empty one: the open port stays open and selected.
TEST(Dialog, UnreadablePortListKeepsTheOpenPort) {
    OpenRig rig;
    rig.Tick();
    ASSERT_TRUE(rig.device->IsOpen());
    rig.ports.unreadable = true;
    rig.ports.names.clear();
    EXPECT_TRUE(rig.dlg.RefreshPortList());  // counts as a change
    rig.Send(Message{Msg::DeviceChange, 0, Notify::None, DBT_DEVICEREMOVECOMPLETE});
    EXPECT_TRUE(rig.device->IsOpen());
    EXPECT_EQ(rig.window.ComboSelection(IDC_PORT), 0);
    EXPECT_EQ(rig.window.Control(IDC_PORT).items,
              (std::vector<std::u16string>{kAdapter0.name, kAdapter1.name}));
    rig.Tick();
    ExpectLook(rig, kOpenNoInfo);
}

TEST(Dialog, PortThatNeverOpenedLeavesTheStatusEmpty) {
    OpenRig rig;
    rig.device->refuse = FailureKind::Busy;
    for (int i = 0; i < 3; ++i) rig.Tick();
    ExpectLook(rig, kNeverOpen);
    EXPECT_EQ(rig.device->open_attempts, 3);  // tried again every tick
    rig.device->refuse = FailureKind::None;
    rig.Tick();
    ExpectLook(rig, kOpenNoInfo);
}

TEST(Dialog, FirstRunWithoutSettings) {
    OpenRig rig;
    EXPECT_EQ(rig.Text(kWindowTitle), text::kTitle);
    EXPECT_EQ(rig.window.ComboSelection(IDC_BAUD), kDefaultBaudIndex);
    EXPECT_EQ(rig.window.ComboItemText(IDC_BAUD, kDefaultBaudIndex), u"115200");
    EXPECT_EQ(rig.window.Control(IDC_MODE).items, std::vector<std::u16string>{u"black_box"});
    EXPECT_EQ(rig.window.ComboSelection(IDC_MODE), 0);
    EXPECT_EQ(rig.dlg.m_nMode, 0);
    EXPECT_EQ(rig.window.Control(IDC_PORT).items, rig.ports.names);
    EXPECT_EQ(rig.window.ComboSelection(IDC_PORT), 0);
    EXPECT_EQ(rig.dlg.m_strPortName, kAdapter0.name);
    EXPECT_TRUE(rig.window.TimerRunning(kTimerId));
    EXPECT_EQ(rig.window.TimerPeriod(kTimerId), 1000);
    EXPECT_EQ(rig.dlg.m_strUtcOffset.size(), 6u);
    EXPECT_EQ(rig.window.ProfileWrites(), 0);
    EXPECT_EQ(rig.device->open_attempts, 0);  // the first tick opens the port, not the start
    rig.Tick();
    EXPECT_EQ(rig.device->path, kAdapter0.path);
    EXPECT_EQ(rig.device->baud, 115200u);
}

TEST(Dialog, RememberedPortIndex) {
    struct Case {
        int ports;
        std::optional<int> stored;
        int selected;
        bool opens;
    };
    for (const Case& c : {Case{2, std::nullopt, 0, true}, Case{2, 1, 1, true}, Case{2, 3, 0, true},
                          Case{3, 5, 0, true}, Case{3, 2, 2, true}, Case{2, -1, -1, false},
                          Case{0, std::nullopt, -1, false}, Case{0, 4, -1, false}}) {
        SCOPED_TRACE(::testing::Message() << c.ports << " ports, stored " << c.stored.value_or(-99));
        DialogRig rig;
        const testing::TestPort* kListed[] = {&kAdapter0, &kAdapter1, &kAdapter2};
        for (int i = 0; i < c.ports; ++i) rig.ports.names.push_back(kListed[i]->name);
        if (c.stored) rig.SetProfile("PortIndex", *c.stored);
        rig.Init();
        EXPECT_EQ(rig.window.ComboSelection(IDC_PORT), c.selected);
        EXPECT_EQ(rig.dlg.m_strPortName,
                  c.selected < 0 ? u"" : rig.ports.names[static_cast<size_t>(c.selected)]);
        rig.dlg.m_nRxBytes = 12;
        rig.Tick();
        EXPECT_EQ(rig.device->IsOpen(), c.opens);
        // Without a selection nothing is attempted and the counters keep their values.
        EXPECT_EQ(rig.dlg.m_nRxBytes, c.selected < 0 ? 12u : 0u);
        EXPECT_EQ(rig.Profile("PortIndex"), c.stored.value_or(-9999));  // never rewritten by the start
    }
}

TEST(Dialog, RememberedRateAndMode) {
    struct Case {
        std::optional<int> baud, mode;
        int baud_selected, mode_selected;
        bool opens;
    };
    for (const Case& c : {Case{0, 0, 0, 0, true}, Case{15, std::nullopt, 15, 0, true},
                          Case{16, 1, -1, -1, false}, Case{-1, -2, -1, -1, false}}) {
        SCOPED_TRACE(::testing::Message()
                     << "baud " << c.baud.value_or(-99) << " mode " << c.mode.value_or(-99));
        DialogRig rig;
        rig.ports.names = {kAdapter0.name};
        if (c.baud) rig.SetProfile("Baud", *c.baud);
        if (c.mode) rig.SetProfile("Mode", *c.mode);
        rig.Init();
        EXPECT_EQ(rig.window.ComboSelection(IDC_BAUD), c.baud_selected);
        EXPECT_EQ(rig.window.ComboSelection(IDC_MODE), c.mode_selected);
        EXPECT_EQ(rig.dlg.m_nMode, c.mode.value_or(0));  // kept as read, also outside the list
        rig.Tick();
        EXPECT_EQ(rig.device->IsOpen(), c.opens);
        if (!c.opens) {
            EXPECT_EQ(rig.device->open_attempts, 0);  // no rate, no attempt
        }
        EXPECT_EQ(rig.window.ProfileWrites(), 0);
    }
}

TEST(Dialog, SelectionsAreWrittenAtOnce) {
    OpenRig rig;
    rig.Tick();
    rig.Pick(IDC_BAUD, 5);
    EXPECT_EQ(rig.Profile("Baud"), 5);
    EXPECT_EQ(rig.device->baud, 9600u);
    rig.Pick(IDC_PORT, 1);
    EXPECT_EQ(rig.Profile("PortIndex"), 1);
    EXPECT_EQ(rig.dlg.m_strPortName, kAdapter1.name);
    rig.window.ComboSelect(IDC_MODE, 0);
    rig.dlg.m_nMode = 7;
    rig.Send(Message{Msg::Command, IDC_MODE, Notify::SelChange});
    EXPECT_EQ(rig.dlg.m_nMode, 0);
    EXPECT_EQ(rig.Profile("Mode"), 0);
}

TEST(Dialog, TickTimesOutBeforeItLooksAtThePort) {
    OpenRig rig;
    rig.device->refuse = FailureKind::Busy;
    rig.Tick();
    rig.dlg.m_strCommand = u"info";
    rig.dlg.SendCommand();
    rig.dlg.m_nReplyTimeout = 1;
    rig.device->refuse = FailureKind::None;
    rig.Tick();
    // The timeout ran out first ("无回应"); then the port opened, and its change of state emptied 1017.
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), text::kPortOpen);
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
}

TEST(Dialog, ALostPortEndsTheWalkAtOnceAndItsTimeoutRepeatsNothing) {
    OpenRig rig;
    rig.Tick();
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    rig.Click(IDC_READ_DATA);
    rig.dlg.m_nReplyTimeout = 1;
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    rig.device->Lose();
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kDownloadCutByPort);
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
}

TEST(Dialog, TickShowsThePortOpenedOnTheSameTickAndCountsAfterTheAttempt) {
    OpenRig rig;
    rig.device->refuse = FailureKind::Absent;
    rig.dlg.m_nRxBytes = 40;
    rig.dlg.m_nTxBytes = 41;
    rig.dlg.m_nCrcErrors = 2;
    rig.Tick();
    // The failed attempt zeroed the byte counts before they were shown; checksum errors are never reset.
    EXPECT_EQ(rig.Text(IDC_RX_BYTES), u"0(2)");
    EXPECT_EQ(rig.Text(IDC_TX_BYTES), u"0");
    rig.device->refuse = FailureKind::None;
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_PORT_STATUS), text::kPortOpen);
}

TEST(Dialog, CountersShowBytesAndChecksumErrors) {
    OpenRig rig;
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_RX_BYTES), u"0(0)");
    EXPECT_EQ(rig.Text(IDC_TX_BYTES), u"0");
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_RX_BYTES), u"44(0)");
    EXPECT_EQ(rig.Text(IDC_TX_BYTES), u"5");
    rig.dlg.m_nRxBytes = UINT32_MAX;
    rig.dlg.m_nCrcErrors = 7;
    rig.dlg.m_nTxBytes = 123456;
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_RX_BYTES), u"4294967295(7)");
    EXPECT_EQ(rig.Text(IDC_TX_BYTES), u"123456");
}

TEST(Dialog, MessageMapRoutesEachMessage) {
    struct Case {
        Message m;
        bool handled;
    };
    const Case cases[] = {
        {{Msg::Paint}, false},
        {{Msg::NcPaint}, false},
        {{Msg::LButtonDown}, false},
        {{Msg::QueryDragIcon}, true},
        {{Msg::QueryEndSession}, true},
        {{Msg::Timer}, true},
        {{Msg::Command, IDOK, Notify::Clicked}, false},      // the front end ends the dialog
        {{Msg::Command, IDCANCEL, Notify::Clicked}, false},  // likewise
        {{Msg::Command, IDC_PORT, Notify::Clicked}, false},
        {{Msg::Command, IDC_READ_INFO, Notify::SelChange}, false},
        {{Msg::Command, IDC_READ_INFO, Notify::Clicked}, true},
        {{Msg::Command, IDC_MODE, Notify::SelChange}, true},
    };
    for (const Case& c : cases) {
        OpenRig rig;
        bool handled = !c.handled;
        rig.Send(c.m, &handled);
        EXPECT_EQ(handled, c.handled) << static_cast<int>(c.m.msg) << " " << c.m.id;
    }
    OpenRig rig;
    rig.dlg.m_hIcon = 128;
    EXPECT_EQ(rig.Send(Message{Msg::QueryDragIcon}), 128);
    EXPECT_EQ(rig.Send(Message{Msg::QueryEndSession}), 1);
}

TEST(Dialog, MessageMapReachesTheHandlers) {
    OpenRig rig;
    rig.Send(Message{Msg::Timer});
    ASSERT_TRUE(rig.device->IsOpen());

    const std::string chunk = "#hello <b>\n";
    rig.Send(Message{Msg::SerialData, 0, Notify::None, reinterpret_cast<uintptr_t>(chunk.data()),
                     static_cast<intptr_t>(chunk.size())});
    EXPECT_EQ(rig.dlg.m_nRxBytes, chunk.size());
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"#hello <b>");

    rig.Send(Message{Msg::Command, IDC_READ_INFO, Notify::Clicked});
    EXPECT_EQ(rig.device->Written(), "info\n");
    rig.device->Deliver(kInfoReply);
    rig.Send(Message{Msg::Command, IDC_SYNC_TIME, Notify::Clicked});
    EXPECT_EQ(rig.device->writes.back(), "time 2024-03-05 07:08:09\n");
    rig.Send(Message{Msg::Command, IDC_READ_DATA, Notify::Clicked});
    EXPECT_EQ(rig.device->writes.back(), "get2 99 -99\n");

    rig.ports.names.push_back(kAdapter2.name);
    rig.Send(Message{Msg::DeviceChange, 0, Notify::None, DBT_DEVICEARRIVAL});
    EXPECT_EQ(rig.window.ComboCount(IDC_PORT), 3);
}

TEST(Dialog, SessionEndRunsTheDestructionOnceOnly) {
    OpenRig rig;
    rig.Tick();
    ASSERT_TRUE(rig.device->IsOpen());
    ASSERT_TRUE(rig.link.EventsHeld());

    rig.Send(Message{Msg::EndSession, 0, Notify::None, 0});  // not ending: nothing happens
    EXPECT_TRUE(rig.device->IsOpen());
    EXPECT_TRUE(rig.window.TimerRunning(kTimerId));

    rig.Send(Message{Msg::EndSession, 0, Notify::None, 1});
    EXPECT_FALSE(rig.window.TimerRunning(kTimerId));
    EXPECT_FALSE(rig.device->IsOpen());
    EXPECT_EQ(rig.link.m_bOpen, 0);
    EXPECT_FALSE(rig.device->dtr);
    EXPECT_EQ(rig.device->closes, 1);
    EXPECT_FALSE(rig.link.EventsHeld());

    rig.Send(Message{Msg::Destroy});
    EXPECT_EQ(rig.device->closes, 1);
    EXPECT_FALSE(rig.link.EventsHeld());
}

TEST(Dialog, DestroyWithoutAnOpenPortReleasesTheEvents) {
    OpenRig rig;
    rig.device->refuse = FailureKind::Absent;
    rig.Tick();
    rig.Send(Message{Msg::Destroy});
    EXPECT_FALSE(rig.window.TimerRunning(kTimerId));
    EXPECT_FALSE(rig.link.EventsHeld());
    EXPECT_EQ(rig.device->closes, 0);
}

}  // namespace
}  // namespace korvel
