// SPDX-License-Identifier: MIT
// Start-up through the application object: the link first, then the dialog, the port on the first tick.
// The dialog's own states are in ui/dialog_test.cpp.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "app/korvel_app.h"
#include "support/fake_port.h"
#include "ui/controls.h"
#include "ui/memory_window.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::FakeDevice;
using testing::FakeOpener;
using testing::FakePortList;

struct AppBench {
    MemoryWindow window;
    FixedClock clock;
    FakePortList ports;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    int posted = 0;
    UiPost Post() {
        return [this](std::function<void()> f) {
            ++posted;
            f();
        };
    }
};

TEST(App, StartsTheLinkThenTheDialogAndOpensOnTheFirstTick) {
    AppBench bench;
    bench.ports.names = {u"/dev/ttyFAKE0"};
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

// Holds the descriptor limit at the lowest free descriptor, so the next one cannot be had.
class NoFreeDescriptors {
  public:
    NoFreeDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowest_free = dup(0);
        if (lowest_free >= 0) close(lowest_free);
        rlimit tight = saved_;
        tight.rlim_cur = static_cast<rlim_t>(lowest_free);
        active_ = lowest_free >= 0 && setrlimit(RLIMIT_NOFILE, &tight) == 0;
    }
    ~NoFreeDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }
    bool active() const { return active_; }

  private:
    rlimit saved_{};
    bool active_ = false;
};

TEST(App, LinkWithoutEventsIsReportedAndTheToolGoesOn) {
    AppBench bench;
    bench.ports.names = {u"/dev/ttyFAKE0"};
    std::unique_ptr<CKorvelApp> app;
    {
#ifdef KORVEL_SANITIZED
        // The sanitizer runtimes need descriptors of their own and misreport when none are left.
        GTEST_SKIP() << "no descriptor exhaustion under the sanitizers";
#endif
        NoFreeDescriptors limit;
        if (!limit.active()) GTEST_SKIP() << "the descriptor limit cannot be lowered here";
        app = std::make_unique<CKorvelApp>(bench.window, bench.clock, bench.ports, bench.Post(),
                                           FakeOpener(bench.device));
    }
    ASSERT_EQ(bench.window.MessageBoxes().size(), 1u);
    EXPECT_EQ(bench.window.MessageBoxes()[0], text::kInfoCreateFalse);
    EXPECT_FALSE(app->Link().EventsHeld());

    ASSERT_TRUE(app->InitInstance());
    app->Dialog().Dispatch(Message{Msg::Timer});
    EXPECT_TRUE(bench.device->IsOpen());  // the open attempt created the events anew
    EXPECT_TRUE(app->Link().EventsHeld());
    app->ExitInstance();
}

}  // namespace
}  // namespace korvel
