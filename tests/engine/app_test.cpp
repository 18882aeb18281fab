// SPDX-License-Identifier: MIT
// Start-up through the application object: the link first, then the dialog, the port on the first tick.
// The dialog's own states are in ui/dialog_test.cpp; a link without events in app_posix_test.cpp.
#include <gtest/gtest.h>

#include "app/korvel_app.h"
#include "support/app_bench.h"
#include "support/test_ports.h"
#include "ui/controls.h"
#include "ui/memory_window.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kAdapter0;

using testing::AppBench;
using testing::FakeOpener;

TEST(App, StartsTheLinkThenTheDialogAndOpensOnTheFirstTick) {
    AppBench bench;
    bench.ports.names = {kAdapter0.name};
    CKorvelApp app(bench.window, bench.clock, bench.ports, bench.Post(), FakeOpener(bench.device));
    EXPECT_TRUE(bench.window.MessageBoxes().empty());
    EXPECT_TRUE(app.Link().EventsHeld());
    ASSERT_TRUE(app.InitInstance());
    EXPECT_EQ(bench.window.Text(kWindowTitle), text::kTitle);
    EXPECT_TRUE(bench.window.TimerRunning(kTimerId));
    EXPECT_EQ(bench.device->open_attempts, 0);

    app.Dialog().Dispatch(Message{Msg::Timer});
    ASSERT_TRUE(bench.device->IsOpen());
    bench.device->Deliver("#ready\n");
    EXPECT_EQ(bench.posted, 1);  // the chunk went through the front end's loop
    EXPECT_EQ(bench.window.Text(IDC_MESSAGE), u"#ready");

    app.ExitInstance();
    app.ExitInstance();
    EXPECT_EQ(bench.device->closes, 1);
    EXPECT_FALSE(app.Link().EventsHeld());
}

}  // namespace
}  // namespace korvel
