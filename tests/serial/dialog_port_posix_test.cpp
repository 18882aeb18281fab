// SPDX-License-Identifier: MIT
// The dialog on a real port: a hang-up of the device.
// POSIX only: the port is a pseudo-terminal, which Windows (and Wine) has not; the same hand-over on
// fake ports runs everywhere (dialog_port_test.cpp).
#include <gtest/gtest.h>

#include "platform/event_loop.h"
#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "support/fake_port.h"
#include "support/pty.h"
#include "ui/controls.h"
#include "ui/dialog_template.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace korvel {
namespace {

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
    testing::FakePortList ports;
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
    EXPECT_EQ(link.m_lastFailure.kind, FailureKind::Absent);
}

}  // namespace
}  // namespace korvel
