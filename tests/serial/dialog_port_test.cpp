// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "app/event_loop.h"
#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "support/pty_pair.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"
#include "ui/texts.h"

namespace korvel {
namespace {

// What happened to the fake ports, in order ("open /dev/x 9600", "dtr+ 1", "close 1", ...).
struct PortLog {
    std::vector<std::string> events;
    int opened = 0;
    UiPost post;
    Port::DataHandler on_data;
    Port::LostHandler on_lost;
    std::vector<std::pair<std::string, unsigned>> writes;  // bytes, timeout
    OpenFailure fail_with;                                 // kind None: opens succeed
};

class FakePort : public Port {
  public:
    FakePort(std::shared_ptr<PortLog> log, int number) : log_(std::move(log)), n_(std::to_string(number)) {}
    bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) override {
        log_->events.push_back("reader " + n_);
        log_->post = std::move(post);
        log_->on_data = std::move(on_data);
        log_->on_lost = std::move(on_lost);
        return true;
    }
    void SetDtr(bool raised) override { log_->events.push_back((raised ? "dtr+ " : "dtr- ") + n_); }
    void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) override {
        log_->writes.emplace_back(std::string(bytes, bytes + length) + "@" + n_, timeout_ms);
    }
    void Close() override {
        if (!closed_) log_->events.push_back("close " + n_);
        closed_ = true;
    }

  private:
    std::shared_ptr<PortLog> log_;
    std::string n_;
    bool closed_ = false;
};

class ListedPorts : public PortEnumerator {
  public:
    std::vector<std::u16string> names;
    int calls = 0;
    std::vector<std::u16string> List() override {
        ++calls;
        return names;
    }
};

class DialogPort : public ::testing::Test {
  protected:
    DialogPort()
        : link([log = log](const std::string& path, uint32_t baud,
                           OpenFailure& failure) -> std::unique_ptr<Port> {
              log->events.push_back("open " + path + " " + std::to_string(baud));
              if (log->fail_with.kind != OpenFailureKind::None) {
                  failure = log->fail_with;
                  return nullptr;
              }
              return std::make_unique<FakePort>(log, ++log->opened);
          }),
          dlg(window, link, clock, ports) {
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
    std::vector<std::string> TakeEvents() { return std::exchange(log->events, {}); }

    std::shared_ptr<PortLog> log = std::make_shared<PortLog>();
    std::vector<std::function<void()>> posted;
    MemoryWindow window;
    SerialLink link;
    FixedClock clock;
    ListedPorts ports;
    CKorvelDlg dlg;
};

TEST_F(DialogPort, OpenPortOpensTheSelectedPathAtTheSelectedRateAndRaisesDtrOnceReading) {
    ShowPorts({u"/dev/ttyS2", u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    dlg.m_nRxBytes = 7;
    dlg.m_nTxBytes = 9;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open /dev/ttyUSB0 115200", "reader 1", "dtr+ 1"}));
    EXPECT_EQ(link.m_bOpen, 1);
    EXPECT_EQ(link.m_nBaud, 115200u);
    EXPECT_EQ(link.m_strPath, "/dev/ttyUSB0");
    EXPECT_EQ(dlg.m_nRxBytes, 0u);
    EXPECT_EQ(dlg.m_nTxBytes, 0u);
    EXPECT_TRUE(link.EventsHeld());
    EXPECT_EQ(link.m_lastFailure.kind, OpenFailureKind::None);
}

TEST_F(DialogPort, WithNoPortSelectedOpenPortDoesNothingAndKeepsTheCounters) {
    ShowPorts({u"/dev/ttyUSB0"}, u"");
    dlg.m_nRxBytes = 7;
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(dlg.m_nRxBytes, 7u);
    EXPECT_EQ(link.m_nBaud, 115200u);  // the rate is still read first
}

TEST_F(DialogPort, WithNoRateSelectedNoOpenIsAttempted) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    window.ComboSelect(IDC_BAUD, -1);
    dlg.m_nTxBytes = 5;
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_EQ(link.m_nBaud, 0u);
    EXPECT_EQ(dlg.m_nTxBytes, 0u);  // an attempt past the port selection restarts the counters
    EXPECT_EQ(link.m_lastFailure.kind, OpenFailureKind::Settings);
    dlg.WritePort(reinterpret_cast<const uint8_t*>("x"), 1);  // no port, no division by the rate
    EXPECT_TRUE(log->writes.empty());
}

TEST_F(DialogPort, AFailedOpenZeroesTheCountersKeepsTheReasonAndStartsNoReader) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    log->fail_with = {OpenFailureKind::Busy,
                      "/dev/ttyUSB0 is in use by process 42 (minicom): close that program"};
    dlg.m_nRxBytes = 3;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open /dev/ttyUSB0 115200"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.m_hPort);
    EXPECT_EQ(dlg.m_nRxBytes, 0u);
    EXPECT_EQ(link.m_lastFailure.kind, OpenFailureKind::Busy);
    EXPECT_EQ(link.m_lastFailure.message, log->fail_with.message);
    EXPECT_TRUE(link.EventsHeld());
}

TEST_F(DialogPort, WithoutAReceiverThePortCountsAsOpenButDtrStaysLow) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    link.m_hNotifyWnd = nullptr;
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open /dev/ttyUSB0 115200"}));
    EXPECT_EQ(link.m_bOpen, 1);
}

TEST_F(DialogPort, ChangingTheRateClosesAndReopensKeepingOneSetOfEvents) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    dlg.OpenPort();
    TakeEvents();
    window.ComboSelect(IDC_BAUD, 5);
    dlg.OnSelChangeBaud();
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"close 1", "open /dev/ttyUSB0 9600", "reader 2", "dtr+ 2"}));
    EXPECT_EQ(window.Profile().at("Settings/Baud"), 5);
    EXPECT_TRUE(link.EventsHeld());
    link.ReleaseEvents();
    link.ReleaseEvents();  // a released event is never released twice
    EXPECT_FALSE(link.EventsHeld());
}

TEST_F(DialogPort, ChoosingAPortRemembersItsNameAndIndexAndOpensIt) {
    ShowPorts({u"/dev/ttyS2", u"/dev/ttyUSB0"}, u"/dev/ttyS2");
    dlg.OpenPort();
    TakeEvents();
    window.ComboSelect(IDC_PORT, 1);
    dlg.OnSelChangePort();
    EXPECT_EQ(dlg.m_strPortName, u"/dev/ttyUSB0");
    EXPECT_EQ(window.Profile().at("Settings/PortIndex"), 1);
    EXPECT_EQ(TakeEvents(),
              (std::vector<std::string>{"close 1", "open /dev/ttyUSB0 115200", "reader 2", "dtr+ 2"}));
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
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    const std::string bytes(100, 'b');
    for (const auto& c : cases) {
        window.ComboSelect(IDC_BAUD, c.baud_index);
        dlg.OpenPort();
        log->writes.clear();
        const uint32_t before = dlg.m_nTxBytes;
        dlg.WritePort(reinterpret_cast<const uint8_t*>(bytes.data()), c.length);
        ASSERT_EQ(log->writes.size(), 1u);
        EXPECT_EQ(log->writes[0].second, c.timeout) << "rate index " << c.baud_index;
        EXPECT_EQ(dlg.m_nTxBytes, before + c.length);
    }
}

TEST_F(DialogPort, ALostDeviceClosesThePortAndLaterWritesTouchNothing) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    dlg.OpenPort();
    TakeEvents();
    log->on_lost();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.m_hPort);
    EXPECT_FALSE(link.EventsHeld());
    EXPECT_EQ(link.m_lastFailure.kind, OpenFailureKind::Absent);

    dlg.WritePort(reinterpret_cast<const uint8_t*>("info\n"), 5);
    EXPECT_TRUE(log->writes.empty());
    EXPECT_EQ(dlg.m_nTxBytes, 5u);  // the counter still grows

    dlg.OpenPort();  // the timer's next try
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open /dev/ttyUSB0 115200", "reader 2", "dtr+ 2"}));
}

TEST_F(DialogPort, PortsComingAndGoingKeepTheSelectionOnTheChosenName) {
    ShowPorts({u"/dev/ttyUSB0"}, u"/dev/ttyUSB0");
    dlg.OpenPort();
    TakeEvents();

    // A second adapter: the list is refilled, the open port stays open and is not reopened.
    ports.names = {u"/dev/ttyACM0", u"/dev/ttyUSB0"};
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
    ports.names = {u"/dev/ttyACM0"};
    dlg.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"close 1"}));
    EXPECT_EQ(link.m_bOpen, 0);
    EXPECT_FALSE(link.EventsHeld());
    EXPECT_EQ(window.ComboSelection(IDC_PORT), -1);
    dlg.OpenPort();
    EXPECT_TRUE(TakeEvents().empty());

    // Plugged in again, listed first now: selected by name, and the timer's next try opens it.
    ports.names = {u"/dev/ttyUSB0", u"/dev/ttyACM0"};
    dlg.OnDeviceChange(DBT_DEVICEARRIVAL, 0);
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 0);
    dlg.OpenPort();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"open /dev/ttyUSB0 115200", "reader 2", "dtr+ 2"}));

    // The same names in another order are a change: refilled, and the selection follows the name.
    ports.names = {u"/dev/ttyACM0", u"/dev/ttyUSB0"};
    EXPECT_TRUE(dlg.RefreshPortList());
    EXPECT_FALSE(dlg.RefreshPortList());
    ports.names = {u"/dev/ttyUSB0", u"/dev/ttyACM0"};
    dlg.OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0);
    EXPECT_EQ(window.ComboItemText(IDC_PORT, 0), u"/dev/ttyUSB0");
    EXPECT_EQ(window.ComboSelection(IDC_PORT), 0);
    EXPECT_TRUE(TakeEvents().empty());
}

// The real port on a pty: a hang-up reaches the dialog on the user-interface thread, which closes the port;
// the timer's next try opens the device again once it is back.
TEST(DialogRealPort, AHangUpClosesThePortFromTheUserInterfaceThread) {
    using namespace std::chrono_literals;
    testing::PtyPair pty;
    MemoryWindow window;
    SerialLink link;
    link.m_reopenPause = 0ms;
    EventLoop loop;
    link.m_hNotifyWnd = loop.Poster();
    FixedClock clock;
    ListedPorts ports;
    ports.names = {PortName(pty.slave_path)};
    CKorvelDlg dlg(window, link, clock, ports);
    window.ComboSelect(IDC_BAUD, kDefaultBaudIndex);
    dlg.RefreshPortList();
    dlg.FillPortCombo();
    window.ComboSelect(IDC_PORT, 0);

    dlg.OpenPort();
    ASSERT_EQ(link.m_bOpen, 1) << link.m_lastFailure.message;
    dlg.WritePort(reinterpret_cast<const uint8_t*>("info\n"), 5);
    const auto sent = pty.Read(5, 5s);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "info\n");

    pty.CloseMaster();
    EXPECT_TRUE(loop.RunUntil([&] { return link.m_bOpen == 0; }, 10s));
    EXPECT_FALSE(link.m_hPort);
    EXPECT_EQ(link.m_lastFailure.kind, OpenFailureKind::Absent);
}

}  // namespace
}  // namespace korvel
