// SPDX-License-Identifier: MIT
// The dialog on an event loop over a real port: the application object with the loop-driven window, the
// real serial layer and a clock that stands still. The end-to-end tests, the command line's reference
// download and the download benchmark all drive the dialog through this one rig.
//
//   LiveDialog live(sim.pty_path(), folder, LiveDialog::Heartbeat::WhenQuiet);
//   ASSERT_TRUE(live.Connect()) << live.Failure();
//   ASSERT_TRUE(live.ReadInfo());
//   ASSERT_TRUE(live.Download());      // then live.FilePath()
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "app/korvel_app.h"
#include "platform/clock.h"
#include "platform/event_loop.h"
#include "support/fake_port.h"
#include "ui/loop_window.h"

namespace korvel::testing {

class LiveDialog {
  public:
    enum class Heartbeat {
        ByTest,       // the test gives every tick (Tick())
        WhenQuiet,    // RunUntil ticks whenever the line has been quiet for 200 ms: lost replies are
                      // repeated without the wait of a real second
        EverySecond,  // the dialog's own one-second timer, as the window runs it
    };

    // The port list holds port (a symbolic link may stand for the device); record files go to
    // upload_dir (empty: the dialog's own choice). The clock reads this computer's time until moved.
    LiveDialog(const std::string& port, const std::string& upload_dir, Heartbeat heartbeat);
    ~LiveDialog();
    LiveDialog(const LiveDialog&) = delete;
    LiveDialog& operator=(const LiveDialog&) = delete;

    // Initialises the dialog (settings, port list, timer); the port opens on the first tick.
    bool Init();
    // Init, the port selected in its list, and the first tick. True when the port is open.
    bool Connect();

    void Tick();
    void Click(int id);
    // Runs the loop until done() or the limit, ticking as the heartbeat says.
    bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));
    // Asks for the device information until an answer is taken (the dialog itself does not repeat the
    // request; a lost reply is asked for again here, up to `attempts` times).
    bool ReadInfo(int attempts = 10);
    // Starts a walk under a file name of its own and waits for its end: true when it wrote its file.
    bool Download(std::chrono::seconds limit = std::chrono::seconds(60));
    std::string FilePath() const;  // of the last walk's file

    bool Open() const { return app.Link().m_bOpen != 0; }
    const std::string& Failure() const { return app.Link().m_lastFailure.message; }
    const std::u16string& Text(int id) const { return window.Text(id); }

    EventLoop loop;
    FixedClock clock;
    FakePortList ports;
    LoopWindow window{loop};
    CKorvelApp app;  // after the loop it posts to: closed first
    CKorvelDlg& dlg;

  private:
    std::string port_;
    std::string upload_dir_;
    Heartbeat heartbeat_;
};

}  // namespace korvel::testing
