// SPDX-License-Identifier: MIT
// The dialog on the rig with fake ports, where a saved file of the device cannot be opened.
// POSIX only: the unopenable file is a symbolic link to nowhere, which a standard Windows user cannot
// make; the window under Wine shows the same box for a file it cannot open (tests/win).
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/dialog_rig.h"
#include "support/test_ports.h"
#include "text/utf8.h"
#include "ui/dialog_template.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kAdapter0;

using testing::DialogRig;

constexpr std::string_view kInfoReply = "OK\r\nA 2 B 1234 100 1 2024-03-05 07:08:09\r\n\r\n";

// The scan before a walk finds a saved file of this device that cannot be opened (a link to nowhere):
// the box names it, and the walk goes on with the files that can be read.
TEST(Dialog, UnreadableSavedFileShowsTheOpenError) {
    DialogRig rig;
    rig.ports.names = {kAdapter0.name};
    rig.Init();
    rig.Tick();
    rig.Click(IDC_READ_INFO);
    rig.device->Deliver(kInfoReply);
    const std::string link = WideToUtf8(rig.dlg.m_strUploadDir) + "/gone-1234-4d2.txt";
    ASSERT_EQ(::symlink("/nonexistent/korvel", link.c_str()), 0);
    rig.device->ClearWrites();
    rig.Click(IDC_READ_DATA);
    ASSERT_EQ(rig.window.MessageBoxes().size(), 1u);
    EXPECT_EQ(rig.window.MessageBoxes()[0], u"Open file error " + Utf8ToWide(link));
    EXPECT_EQ(rig.device->Written().rfind("get", 0), 0u) << rig.device->Written();
}

// The scan's "Open file error " box runs the window's loop; a port lost while it is open ends the start,
// also when the device is back before the box closes: the new connection's device was not asked.
TEST(Dialog, PortLostWhileTheScanBoxIsOpenStartsNoWalk) {
    for (bool back : {false, true}) {
        SCOPED_TRACE(back ? "back before the box closes" : "still gone");
        DialogRig rig;
        rig.ports.names = {kAdapter0.name};
        rig.Init();
        rig.Tick();
        rig.Click(IDC_READ_INFO);
        rig.device->Deliver(kInfoReply);
        // A saved file of this device that cannot be opened: a link to nowhere.
        const std::string link = WideToUtf8(rig.dlg.m_strUploadDir) + "/240101-000000-1234-4d2.txt";
        ASSERT_EQ(::symlink("/nonexistent/korvel", link.c_str()), 0);
        rig.window.while_message_box = [&] {
            rig.device->Lose();
            if (back) rig.device->refuse = FailureKind::None;
            rig.Tick();
        };
        rig.device->ClearWrites();
        rig.Click(IDC_READ_DATA);
        EXPECT_EQ(rig.window.MessageBoxes().size(), 1u);
        EXPECT_EQ(rig.dlg.m_strCommand, u"");
        EXPECT_EQ(rig.device->Written(), "");
        EXPECT_EQ(rig.Text(IDC_PORT_STATUS), back ? text::kPortOpen : text::kPortClosed);
        EXPECT_EQ(rig.window.Visible(IDC_READ_INFO), back);
        EXPECT_FALSE(rig.window.Visible(IDC_READ_DATA));  // the information went with the old connection
        EXPECT_TRUE(rig.window.Enabled(IDC_PORT));
        EXPECT_EQ(rig.window.Text(IDC_READ_DATA), text::kReadData);
    }
}

}  // namespace
}  // namespace korvel
