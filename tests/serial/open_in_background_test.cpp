// SPDX-License-Identifier: MIT
// A port whose open blocks in the driver (a Bluetooth port whose device is off) never holds up the
// user-interface thread: the open runs beside it, the ticks go on, the window closes while it blocks.
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

PortOpener BlockingOpener(std::shared_ptr<Gate> gate, PortOpener inner) {
    return [gate, inner](const std::string& path, uint32_t baud, Failure& failure) -> std::unique_ptr<Port> {
        {
            std::unique_lock<std::mutex> lock(gate->mutex);
            ++gate->entered;
            gate->changed.notify_all();
            gate->changed.wait_for(lock, 10s, [&] { return gate->released; });
        }
        std::unique_ptr<Port> port = inner(path, baud, failure);
        if (!port) return nullptr;
        return std::make_unique<GatedPort>(std::move(port), gate);
    };
}

struct Bench {
    EventLoop loop;
    MemoryWindow window;
    FixedClock clock;
    FakePortList ports;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::unique_ptr<CKorvelApp> app;

    Bench() {
        ports.names = {u"COM7"};  // a name that is a port on every system
        app = std::make_unique<CKorvelApp>(window, clock, ports, loop.Poster(),
                                           BlockingOpener(gate, FakeOpener(device)));
        app->Link().m_bOpenInBackground = true;
        app->InitInstance();
    }
    void Tick() { app->Dialog().Dispatch(Message{Msg::Timer}); }
};

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

}  // namespace
}  // namespace korvel
