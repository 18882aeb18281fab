// SPDX-License-Identifier: MIT
// Start-up when the link cannot have its events: reported, and the tool goes on.
// POSIX only: the events are made unobtainable by lowering the descriptor limit (setrlimit); Windows
// has no such limit to lower.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>

#include "app/korvel_app.h"
#include "support/app_bench.h"
#include "support/test_ports.h"
#include "ui/controls.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kAdapter0;

using testing::AppBench;
using testing::FakeOpener;

// Holds the descriptor limit at the lowest free descriptor, so the next one cannot be had.
class NoFreeDescriptors {
  public:
    NoFreeDescriptors() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        // The lowest free descriptor, whatever the test was started with (ctest may close stdin).
        const int lowest_free = open("/dev/null", O_RDONLY | O_CLOEXEC);
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
    bench.ports.names = {kAdapter0.name};
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
