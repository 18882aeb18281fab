// SPDX-License-Identifier: MIT
// A port whose open blocks in the driver (a Bluetooth port whose device is off) never holds up the
// user-interface thread: the open runs beside it, the ticks go on, the window closes while it blocks. An
// open that is quick is taken up on the tick that started it, and a reopen under way is no change of
// the port's state.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "app/korvel_app.h"
#include "platform/event_loop.h"
#include "support/fake_port.h"
#include "ui/controls.h"
#include "ui/memory_window.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using namespace std::chrono_literals;
using testing::FakeDevice;
using testing::FakeOpener;
using testing::FakePortList;

// Holds every open until released (at most 10 s), and tells when the port it handed out was closed.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    int entered = 0;
    bool released = false;
    bool port_closed = false;

    void Release() {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    bool WaitFor(const std::function<bool()>& done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 10s, done);
    }
};

class GatedPort : public Port {
  public:
    GatedPort(std::unique_ptr<Port> inner, std::shared_ptr<Gate> gate)
        : inner_(std::move(inner)), gate_(std::move(gate)) {}
    bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) override {
        return inner_->StartReader(std::move(post), std::move(on_data), std::move(on_lost));
    }
    void SetDtr(bool raised) override { inner_->SetDtr(raised); }
    void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) override {
        inner_->Write(bytes, length, timeout_ms);
    }
    void Close() override {
        inner_->Close();
        const std::lock_guard<std::mutex> lock(gate_->mutex);
        gate_->port_closed = true;
        gate_->changed.notify_all();
    }

  private:
    std::unique_ptr<Port> inner_;
    std::shared_ptr<Gate> gate_;
};

// Every open takes `takes` in the driver, or ends earlier when the test releases the gate.
PortOpener TimedOpener(std::shared_ptr<Gate> gate, std::chrono::milliseconds takes, PortOpener inner) {
    return [gate, takes, inner](const std::string& path, uint32_t baud,
                                Failure& failure) -> std::unique_ptr<Port> {
        {
            std::unique_lock<std::mutex> lock(gate->mutex);
            ++gate->entered;
            gate->changed.notify_all();
            gate->changed.wait_for(lock, takes, [&] { return gate->released; });
        }
        std::unique_ptr<Port> port = inner(path, baud, failure);
        if (!port) return nullptr;
        return std::make_unique<GatedPort>(std::move(port), gate);
    };
}

// Remembers every text the status field 1007 showed.
class StatusWatch : public MemoryWindow {
  public:
    void SetText(int id, std::u16string_view text) override {
        MemoryWindow::SetText(id, text);
        if (id == IDC_PORT_STATUS) statuses.emplace_back(text);
    }
    std::vector<std::u16string> statuses;
};

struct Bench {
    EventLoop loop;
    StatusWatch window;
    FixedClock clock;
    FakePortList ports;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::unique_ptr<CKorvelApp> app;

    explicit Bench(std::chrono::milliseconds open_takes = 10s) {
        ports.names = {u"COM7"};  // a name that is a port on every system
        app = std::make_unique<CKorvelApp>(window, clock, ports, loop.Poster(),
                                           TimedOpener(gate, open_takes, FakeOpener(device)));
        app->Link().m_bOpenInBackground = true;
        app->Link().m_reopenPause = 0ms;
        app->InitInstance();
    }
    void Tick() { app->Dialog().Dispatch(Message{Msg::Timer}); }
    void Click(int id) { app->Dialog().Dispatch(Message{Msg::Command, id, Notify::Clicked}); }
    void Pick(int combo, int index) {
        window.ComboSelect(combo, index);
        app->Dialog().Dispatch(Message{Msg::Command, combo, Notify::SelChange});
    }
    const std::u16string& Status() const { return window.Text(IDC_PORT_STATUS); }
    bool Open() const { return app->Link().m_bOpen != 0; }
};

constexpr std::string_view kInfoReply = "OK\nA 2 B 1234 100 1 2024-03-05 07:08:09\n\n";

TEST(OpenInBackground, TicksGoOnWhileTheOpenBlocksAndItsResultIsTakenUpWhenItComes) {
    Bench bench;
    bench.Tick();
    ASSERT_TRUE(bench.gate->WaitFor([&] { return bench.gate->entered == 1; }));
    // Each tick returned while the open is still held: the timer runs, counters are shown, and no
    // second open is started beside the first.
    for (int i = 0; i < 5; ++i) bench.Tick();
    EXPECT_NE(bench.window.Text(IDC_PORT_STATUS), text::kPortOpen);
    EXPECT_FALSE(bench.app->Link().m_bOpen);
    {
        const std::lock_guard<std::mutex> lock(bench.gate->mutex);
        EXPECT_EQ(bench.gate->entered, 1);
        EXPECT_FALSE(bench.gate->released);
    }

    bench.gate->Release();
    ASSERT_TRUE(bench.loop.RunUntil([&] { return bench.app->Link().m_bOpen != 0; }, 10s));
    bench.Tick();
    EXPECT_EQ(bench.window.Text(IDC_PORT_STATUS), text::kPortOpen);
    EXPECT_TRUE(bench.device->IsOpen());
    bench.device->Deliver("#ready\n");
    bench.loop.RunUntil([&] { return bench.window.Text(IDC_MESSAGE) == u"#ready"; }, 10s);
    EXPECT_EQ(bench.window.Text(IDC_MESSAGE), u"#ready");
    bench.app->ExitInstance();
}

TEST(OpenInBackground, TheWindowClosesWhileTheOpenBlocksAndTheLatePortIsClosed) {
    Bench bench;
    bench.Tick();
    ASSERT_TRUE(bench.gate->WaitFor([&] { return bench.gate->entered == 1; }));
    bench.app->ExitInstance();
    bench.app.reset();  // the window is gone while the driver still holds the open
    {
        const std::lock_guard<std::mutex> lock(bench.gate->mutex);
        EXPECT_FALSE(bench.gate->released);
    }
    // When the open finally succeeds, nobody takes it up: its own thread closes the port.
    bench.gate->Release();
    EXPECT_TRUE(bench.gate->WaitFor([&] { return bench.gate->port_closed; }));
    bench.loop.RunOnce(0s);  // nothing was posted for the gone window
}

TEST(OpenInBackground, AnotherChoiceWhileAnOpenBlocksDropsTheLateResult) {
    Bench bench;
    bench.Tick();
    ASSERT_TRUE(bench.gate->WaitFor([&] { return bench.gate->entered >= 1; }));
    bench.app->Dialog().ClosePort();  // what a new choice does first
    bench.gate->Release();
    EXPECT_TRUE(bench.gate->WaitFor([&] { return bench.gate->port_closed; }));
    bench.loop.RunOnce(0s);
    EXPECT_FALSE(bench.app->Link().m_bOpen);
    // The next tick opens again, and that open is taken up.
    bench.Tick();
    ASSERT_TRUE(bench.loop.RunUntil([&] { return bench.app->Link().m_bOpen != 0; }, 10s));
    bench.app->ExitInstance();
}

// The port layer's open takes 0 ms (the usual port), 300 ms (longer than the tick waits for it) or 10 s
// (a driver that blocks). Whichever: the first tick shows nothing wrong, the state shows as soon as the
// open is there without waiting for another tick, and a change of rate while the device's information
// is shown keeps it, with no "已关闭" between.
TEST(OpenInBackground, TheStateShowsWhenTheOpenIsThereAndAReopenUnderWayIsNoChange) {
    struct Case {
        const char* what;
        std::chrono::milliseconds takes;
    };
    for (const Case& c : {Case{"0 ms", 0ms}, Case{"300 ms", 300ms}, Case{"10 s", 10s}}) {
        SCOPED_TRACE(c.what);
        Bench bench(c.takes);
        const bool quick = c.takes == 0ms, blocking = c.takes == 10s;
        // A quick open is there in time whatever the machine's load: the tick's wait ends when it comes.
        if (quick) bench.app->Link().m_openWait = 10s;
        auto ticks_while_blocked = [&] {
            if (!blocking) return;
            ASSERT_TRUE(bench.gate->WaitFor([&] { return bench.gate->entered >= 1; }));
            for (int i = 0; i < 3; ++i) bench.Tick();  // the window goes on meanwhile
            EXPECT_TRUE(bench.app->Link().Opening());
            bench.gate->Release();
        };

        bench.Tick();
        if (quick) {
            EXPECT_EQ(bench.Status(), text::kPortOpen) << "shown on the tick that opened the port";
            EXPECT_TRUE(bench.window.Visible(IDC_READ_INFO));
        }
        ticks_while_blocked();
        EXPECT_NE(bench.Status(), text::kPortClosed);
        ASSERT_TRUE(bench.loop.RunUntil([&] { return bench.Open(); }, 20s));
        // Taken up and shown at once: no further tick.
        EXPECT_EQ(bench.Status(), text::kPortOpen);
        EXPECT_TRUE(bench.window.Visible(IDC_READ_INFO));
        EXPECT_TRUE(bench.window.Enabled(IDC_READ_INFO));

        bench.Click(IDC_READ_INFO);
        bench.device->Deliver(kInfoReply);
        ASSERT_TRUE(bench.loop.RunUntil([&] { return bench.app->Dialog().InfoRead(); }, 20s));
        ASSERT_TRUE(bench.window.Visible(IDC_READ_DATA));

        // Another rate: the port reopens; the information stays, and so do the buttons.
        {
            const std::lock_guard<std::mutex> lock(bench.gate->mutex);
            bench.gate->released = false;
            bench.gate->entered = 0;
        }
        const size_t shown_before = bench.window.statuses.size();
        bench.Pick(IDC_BAUD, 7);  // 38400
        bench.Tick();
        ticks_while_blocked();
        ASSERT_TRUE(bench.loop.RunUntil([&] { return bench.Open() && bench.device->baud == 38400; }, 20s));
        bench.Tick();
        EXPECT_EQ(std::vector<std::u16string>(bench.window.statuses.begin() + shown_before,
                                              bench.window.statuses.end()),
                  std::vector<std::u16string>{})
            << "the status field changed during the reopen";
        EXPECT_EQ(bench.Status(), text::kPortOpen);
        EXPECT_EQ(bench.window.Text(IDC_PRODUCT_NO), u"1234");
        EXPECT_TRUE(bench.window.Text(IDC_RECORD_COUNT).starts_with(u"99 ("));
        for (int id : {IDC_READ_INFO, IDC_READ_DATA, IDC_SYNC_TIME})
            EXPECT_TRUE(bench.window.Visible(id)) << id;

        // The reopened port answers.
        bench.Click(IDC_READ_INFO);
        bench.device->Deliver(kInfoReply);
        EXPECT_TRUE(bench.loop.RunUntil([&] { return bench.app->Dialog().InfoRead(); }, 20s));
        bench.app->ExitInstance();
    }
}

// A reopen whose port does not open is a change: "已关闭" shows as soon as the open has failed.
TEST(OpenInBackground, AReopenThatFailsShowsTheClosedPortWhenItHasFailed) {
    Bench bench(0ms);
    bench.app->Link().m_openWait = 10s;
    bench.Tick();
    ASSERT_EQ(bench.Status(), text::kPortOpen);
    bench.device->refuse = FailureKind::Busy;
    bench.Pick(IDC_BAUD, 7);
    ASSERT_TRUE(bench.loop.RunUntil([&] { return !bench.app->Link().Opening(); }, 20s));
    bench.loop.RunOnce(0s);
    EXPECT_EQ(bench.Status(), text::kPortClosed);
    EXPECT_FALSE(bench.window.Visible(IDC_READ_INFO));
    bench.app->ExitInstance();
}

}  // namespace
}  // namespace korvel
