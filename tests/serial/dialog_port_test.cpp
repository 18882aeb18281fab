// SPDX-License-Identifier: MIT
// The dialog's port handlers against fake ports (what is opened, closed and written, in order); a hang-up
// of a real port is in dialog_port_posix_test.cpp. The port itself is in port_posix_test.cpp, the port
// list in discovery_linux_test.cpp.
#include <gtest/gtest.h>

#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "support/fake_port.h"
#include "support/test_ports.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kAdapter0;
using testing::kBuiltInPort;
using testing::kModemPort;

class DialogPort : public ::testing::Test {
  protected:
    DialogPort() : link(testing::FakeOpener(device)), dlg(window, link, clock, ports) {
        link.m_reopenPause = std::chrono::milliseconds(0);
        link.m_hNotifyWnd = [this](std::function<void()> task) { posted.push_back(std::move(task)); };
        window.ComboSelect(IDC_BAUD, kDefaultBaudIndex);
    }

    // The port list as the dialog's initialisation shows it, with name selected.
    void ShowPorts(std::vector<std::u16string> names, const std::u16string& selected) {
        ports.names = std::move(names);
        dlg.RefreshPortList();
        dlg.FillPortCombo();
        for (int i = 0; i < window.ComboCount(IDC_PORT); ++i)
            if (window.ComboItemText(IDC_PORT, i) == selected) window.ComboSelect(IDC_PORT, i);
        dlg.m_strPortName = selected;
    }
    std::vector<std::string> TakeEvents() { return std::exchange(device->events, {}); }
    void RunPosted() {
        for (auto tasks = std::exchange(posted, {}); auto& task : tasks) task();
    }

    std::shared_ptr<testing::FakeDevice> device = std::make_shared<testing::FakeDevice>();
    std::vector<std::function<void()>> posted;
    MemoryWindow window;
    SerialLink link;
    FixedClock clock;
    testing::FakePortList ports;
    CKorvelDlg dlg;
};

TEST_F(DialogPort, OpenPortOpensTheSelectedPathAtTheSelectedRateAndRaisesDtrOnceReading) {
    ShowPorts({kBuiltInPort.name, kAdapter0.name}, kAdapter0.name);
    dlg.m_nRxBytes = 7;
    dlg.m_nTxBytes = 9;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"open " + kAdapter0.path + " 115200", "reader 1", "dtr+ 1"}));
    EXPECT_EQ(link.m_bOpen, 1);
    EXPECT_EQ(link.m_nBaud, 115200u);
    EXPECT_EQ(link.m_strPath, kAdapter0.path);
    EXPECT_EQ(dlg.m_nRxBytes, 0u);
    EXPECT_EQ(dlg.m_nTxBytes, 0u);
    EXPECT_TRUE(link.EventsHeld());
    EXPECT_EQ(link.m_lastFailure.kind, FailureKind::None);
}

TEST_F(DialogPort, WithNoPortSelectedOpenPortDoesNothingAndKeepsTheCounters) {
    ShowPorts({kAdapter0.name}, u"");
    dlg.m_nRxBytes = 7;
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(dlg.m_nRxBytes, 7u);
    EXPECT_EQ(link.m_nBaud, 115200u);  // the rate is still read first
}

TEST_F(DialogPort, WithNoRateSelectedNoOpenIsAttempted) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    window.ComboSelect(IDC_BAUD, -1);
    dlg.m_nTxBytes = 5;
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_EQ(link.m_nBaud, 0u);
    EXPECT_EQ(dlg.m_nTxBytes, 0u);  // an attempt past the port selection restarts the counters
    EXPECT_EQ(link.m_lastFailure.kind, FailureKind::Settings);
    dlg.WritePort(reinterpret_cast<const uint8_t*>("x"), 1);  // no port, no division by the rate
    EXPECT_TRUE(device->writes.empty());
}

TEST_F(DialogPort, AFailedOpenZeroesTheCountersKeepsTheReasonAndStartsNoReader) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    device->refuse = FailureKind::Busy;
    device->refuse_message = kAdapter0.path + " is in use by process 42 (minicom): close that program";
    dlg.m_nRxBytes = 3;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open " + kAdapter0.path + " 115200"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.m_hPort);
    EXPECT_EQ(dlg.m_nRxBytes, 0u);
    EXPECT_EQ(link.m_lastFailure.kind, FailureKind::Busy);
    EXPECT_EQ(link.m_lastFailure.message, device->refuse_message);
    EXPECT_TRUE(link.EventsHeld());
}

TEST_F(DialogPort, WithoutAReceiverThePortCountsAsOpenButDtrStaysLow) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    link.m_hNotifyWnd = nullptr;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open " + kAdapter0.path + " 115200"}));
    EXPECT_EQ(link.m_bOpen, 1);
}

TEST_F(DialogPort, ChangingTheRateClosesAndReopensKeepingOneSetOfEvents) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    dlg.OpenPort();
    TakeEvents();
    window.ComboSelect(IDC_BAUD, 5);
    dlg.OnSelChangeBaud();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1", "open " + kAdapter0.path + " 9600",
                                                      "reader 2", "dtr+ 2"}));
    EXPECT_EQ(window.Profile().at("Settings/Baud"), 5);
    EXPECT_TRUE(link.EventsHeld());
    link.ReleaseEvents();
    link.ReleaseEvents();  // a released event is never released twice
    EXPECT_FALSE(link.EventsHeld());
}

TEST_F(DialogPort, ChoosingAPortRemembersItsNameAndIndexAndOpensIt) {
    ShowPorts({kBuiltInPort.name, kAdapter0.name}, kBuiltInPort.name);
    dlg.OpenPort();
    TakeEvents();
    window.ComboSelect(IDC_PORT, 1);
    dlg.OnSelChangePort();
    EXPECT_EQ(dlg.m_strPortName, kAdapter0.name);
    EXPECT_EQ(window.Profile().at("Settings/PortIndex"), 1);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1", "open " + kAdapter0.path + " 115200",
                                                      "reader 2", "dtr+ 2"}));
}

TEST_F(DialogPort, WriteTimeoutIsLengthTimesMillisecondsPerByteAtTheRatePlus4) {
    struct Case {
        int baud_index;
        size_t length;
        unsigned timeout;
    } cases[] = {
        {0, 16, 16 * 64 + 4},  // 300
        {5, 5, 5 * 2 + 4},     // 9600
        {6, 5, 5 + 4},         // 19200
        {7, 100, 4},           // 38400 and above: the constant alone
        {9, 16, 4},            // 115200
        {15, 16, 4},           // 4000000
    };
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    const std::string bytes(100, 'b');
    for (const auto& c : cases) {
        window.ComboSelect(IDC_BAUD, c.baud_index);
        dlg.OpenPort();
        device->ClearWrites();
        const uint32_t before = dlg.m_nTxBytes;
        dlg.WritePort(reinterpret_cast<const uint8_t*>(bytes.data()), c.length);
        ASSERT_EQ(device->write_timeouts.size(), 1u);
        EXPECT_EQ(device->write_timeouts[0], c.timeout) << "rate index " << c.baud_index;
        EXPECT_EQ(dlg.m_nTxBytes, before + c.length);
    }
}

TEST_F(DialogPort, ALostDeviceClosesThePortAndLaterWritesTouchNothing) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    dlg.OpenPort();
    TakeEvents();
    device->Lose();
    RunPosted();
    device->refuse = FailureKind::None;  // back at once: the timer's next try succeeds
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.m_hPort);
    EXPECT_FALSE(link.EventsHeld());
    EXPECT_EQ(link.m_lastFailure.kind, FailureKind::Absent);

    dlg.WritePort(reinterpret_cast<const uint8_t*>("info\n"), 5);
    EXPECT_TRUE(device->writes.empty());
    EXPECT_EQ(dlg.m_nTxBytes, 5u);  // the counter still grows

    dlg.OpenPort();  // the timer's next try
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"open " + kAdapter0.path + " 115200", "reader 2", "dtr+ 2"}));
}

TEST_F(DialogPort, PortsComingAndGoingKeepTheSelectionOnTheChosenName) {
    ShowPorts({kAdapter0.name}, kAdapter0.name);
    dlg.OpenPort();
    TakeEvents();

    // A second adapter: the list is refilled, the open port stays open and is not reopened.
    ports.names = {kModemPort.name, kAdapter0.name};
    EXPECT_EQ(dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0), 0);
    EXPECT_EQ(window.ComboCount(IDC_PORT), 2);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 1);
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(link.m_bOpen, 1);

    // Other device events are not looked at; an unchanged list leaves the combo box alone.
    const int calls = ports.calls;
    dlg.OnDeviceChange(0x0007, 0);
    EXPECT_EQ(ports.calls, calls);
    window.ComboSelect(IDC_PORT, -1);
    dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), -1);
    window.ComboSelect(IDC_PORT, 1);

    // The chosen adapter is unplugged: closed, deselected, and the timer does not reopen anything.
    ports.names = {kModemPort.name};
    dlg.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.EventsHeld());
    EXPECT_EQ(window.ComboSelection(IDC_PORT), -1);
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());

    // Plugged in again, listed first now: selected by name, and the timer's next try opens it.
    ports.names = {kAdapter0.name, kModemPort.name};
    dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 0);
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"open " + kAdapter0.path + " 115200", "reader 2", "dtr+ 2"}));

    // The same names in another order are a change: refilled, and the selection follows the name.
    ports.names = {kModemPort.name, kAdapter0.name};
    EXPECT_TRUE(dlg.RefreshPortList());
    EXPECT_FALSE(dlg.RefreshPortList());
    ports.names = {kAdapter0.name, kModemPort.name};
    dlg.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(window.ComboItemText(IDC_PORT, 0), kAdapter0.name);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 0);
    EXPECT_TRUE(TakeEvents().empty());
}

}  // namespace
}  // namespace korvel
