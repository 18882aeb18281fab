// SPDX-License-Identifier: MIT
// The whole engine against the simulated recorder, ticks given by the test: opening, information, clock
// setting and hang-up. Whole downloads are in download_e2e_test.cpp.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <string>

#include "support/live_dialog.h"
#include "support/sim_process.h"
#include "support/temp_folder.h"
#include "text/format.h"
#include "ui/controls.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::kIoTimeout;
using testing::SimProcess;

std::string Narrow(std::u16string_view text) { return std::string(text.begin(), text.end()); }

// The clock field of the simulator's status line.
std::string SimClock(SimProcess& sim) {
    const std::optional<std::string> status = sim.Control("status");
    if (!status) return {};
    const size_t at = status->find("clock=");
    return at == std::string::npos ? std::string() : status->substr(at + 6, 19);
}

class EngineOnSim : public ::testing::Test {
  protected:
    void Start(std::vector<std::string> args, const std::string& upload_dir = "") {
        ASSERT_TRUE(sim_.Start(args)) << sim_.error();
        // The symbolic link follows the device when it is plugged in again under another terminal.
        live_ = std::make_unique<testing::LiveDialog>(sim_.link_path(), upload_dir,
                                                      testing::LiveDialog::Heartbeat::ByTest);
        live_->clock.local = LocalTime{2024, 3, 5, 7, 8, 9};
        live_->clock.now = static_cast<int64_t>(std::time(nullptr));
        ASSERT_TRUE(live_->Init());
    }

    CKorvelDlg& dlg() { return live_->dlg; }
    SerialLink& link() { return live_->app.Link(); }
    FixedClock& clock() { return live_->clock; }
    void Tick() { live_->Tick(); }
    void Click(int id) { live_->Click(id); }
    bool RunUntil(const std::function<bool()>& done) { return live_->loop.RunUntil(done, kIoTimeout); }
    const std::u16string& Text(int id) { return live_->Text(id); }
    bool Visible(int id) { return live_->window.Visible(id); }

    // Asks for the information and waits until the reply has been taken.
    bool ReadInfo() {
        Click(IDC_READ_INFO);
        return RunUntil([&] { return dlg().m_strCommand.empty(); }) && !dlg().m_strProductNo.empty();
    }

    SimProcess sim_;
    std::unique_ptr<testing::LiveDialog> live_;
};

TEST_F(EngineOnSim, OpensOnTheFirstTickAndReadsTheInformation) {
    Start({"--records", "250", "--protocol", "2", "--product", "4711", "--firmware", "KVR V3.1"});
    EXPECT_EQ(Text(IDC_PORT_STATUS), u"");
    Tick();
    ASSERT_EQ(Text(IDC_PORT_STATUS), text::kPortOpen) << link().m_lastFailure.message;
    EXPECT_TRUE(Visible(IDC_READ_INFO));
    EXPECT_FALSE(Visible(IDC_READ_DATA));

    ASSERT_TRUE(sim_.Control("clock 2024-03-05 07:08:09"));
    ASSERT_TRUE(ReadInfo());
    const std::string device_clock_after = SimClock(sim_);

    EXPECT_EQ(sim_.Requests(), std::vector<std::string>{"info"});
    EXPECT_EQ(Text(IDC_LAST_COMMAND), u"info");
    EXPECT_EQ(Text(IDC_PRODUCT_NO), u"4711");
    EXPECT_EQ(Text(IDC_FIRMWARE), u"KVR 2 V3.1");
    EXPECT_EQ(Text(IDC_RECORD_COUNT), u"250 (8.4小时)");
    EXPECT_EQ(dlg().m_nHeadIndex, 250);
    EXPECT_EQ(dlg().m_nTailIndex, 0);
    EXPECT_EQ(dlg().m_nProtocol, 2);
    // The device clock runs on: it reads the time set, or a moment later.
    const std::string device_time = Narrow(Text(IDC_DEVICE_TIME));
    EXPECT_GE(device_time, "2024-03-05 07:08:09");
    EXPECT_LE(device_time, device_clock_after);
    EXPECT_EQ(Text(IDC_PC_TIME), u"2024-03-05 07:08:09");
    EXPECT_EQ(Text(IDC_MESSAGE),
              u"KVR 2 V3.1 4711 251 1 " + std::u16string(device_time.begin(), device_time.end()));
    EXPECT_EQ(Text(IDC_RESULT), u"");
    EXPECT_TRUE(Visible(IDC_READ_DATA));
    EXPECT_TRUE(Visible(IDC_SYNC_TIME));

    Tick();
    EXPECT_EQ(Text(IDC_TX_BYTES), u"5");
    // "OK", the information line and the closing empty line, each with its LF.
    const size_t reply_bytes = 3 + Text(IDC_MESSAGE).size() + 1 + 1;
    EXPECT_EQ(Text(IDC_RX_BYTES), Format(u"%u(0)", static_cast<unsigned>(reply_bytes)));
}

TEST_F(EngineOnSim, SyncTimeSetsTheDeviceClock) {
    Start({"--records", "20", "--protocol", "1", "--clock", "2024-03-05 07:08:09"});
    Tick();
    ASSERT_TRUE(link().m_bOpen) << link().m_lastFailure.message;
    ASSERT_TRUE(ReadInfo());

    clock().local = LocalTime{2030, 1, 2, 3, 4, 5};
    Click(IDC_SYNC_TIME);
    ASSERT_TRUE(sim_.WaitForRequests(2));
    EXPECT_EQ(sim_.Requests()[1], "time 2030-01-02 03:04:05");
    ASSERT_TRUE(RunUntil([&] { return dlg().m_strCommand.empty(); }));
    EXPECT_EQ(SimClock(sim_).substr(0, 16), "2030-01-02 03:04");

    ASSERT_TRUE(ReadInfo());
    EXPECT_EQ(Narrow(Text(IDC_DEVICE_TIME)).substr(0, 16), "2030-01-02 03:04");
}

TEST_F(EngineOnSim, HangUpShowsClosedAndTheReturningDeviceIsOpenedAgain) {
    Start({"--records", "20"});
    Tick();
    ASSERT_TRUE(link().m_bOpen) << link().m_lastFailure.message;
    ASSERT_TRUE(ReadInfo());

    ASSERT_TRUE(sim_.Control("hangup"));
    ASSERT_TRUE(RunUntil([&] { return link().m_bOpen == 0; }));
    Tick();  // the next heartbeat, at most a second after the loss
    EXPECT_EQ(Text(IDC_PORT_STATUS), text::kPortClosed);
    EXPECT_FALSE(Visible(IDC_READ_INFO));
    EXPECT_FALSE(Visible(IDC_READ_DATA));
    EXPECT_EQ(Text(IDC_PRODUCT_NO), u"");
    Tick();  // still gone: tried again, still closed
    EXPECT_EQ(Text(IDC_PORT_STATUS), text::kPortClosed);

    ASSERT_TRUE(sim_.Control("replug"));
    ASSERT_TRUE(sim_.WaitForEvent("pty "));
    Tick();
    ASSERT_EQ(Text(IDC_PORT_STATUS), text::kPortOpen) << link().m_lastFailure.message;
    EXPECT_TRUE(Visible(IDC_READ_INFO));
    EXPECT_TRUE(ReadInfo());
    EXPECT_EQ(Text(IDC_PRODUCT_NO), u"1234");
}

// The recorder dies in the middle of a download's reply and is started again on the same link: the
// first "读信息" on the new connection is taken whole. Each round cuts the reply at another byte.
TEST_F(EngineOnSim, AReplyCutByTheRecorderDyingLeavesNothingForTheNextConnection) {
    testing::TempFolder upload;
    // Paced at 38400 bit/s and written a few bytes at a time, so the death cuts a line.
    const std::vector<std::string> args = {"--records", "3300", "--baud", "38400", "--chunk", "7"};
    Start(args, upload.path());
    Tick();
    ASSERT_TRUE(link().m_bOpen) << link().m_lastFailure.message;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(ReadInfo());
        Click(IDC_READ_DATA);
        ASSERT_TRUE(dlg().Downloading());
        const uint32_t cut = dlg().m_nRxBytes + 200 + 331 * static_cast<uint32_t>(round);
        ASSERT_TRUE(RunUntil([&] { return dlg().m_nRxBytes >= cut; }));
        sim_.Kill();
        std::filesystem::remove(sim_.link_path());  // gone from the system too, until it starts again
        ASSERT_TRUE(RunUntil([&] { return link().m_bOpen == 0; }));
        EXPECT_EQ(Text(IDC_PORT_STATUS), text::kPortClosed);
        EXPECT_EQ(Text(IDC_RESULT), text::kDownloadCutByPort);
        EXPECT_TRUE(std::filesystem::is_empty(upload.path()));
        Tick();  // tried again, still absent
        EXPECT_EQ(Text(IDC_PORT_STATUS), text::kPortClosed);

        ASSERT_TRUE(sim_.Start(args)) << sim_.error();
        Tick();
        ASSERT_EQ(Text(IDC_PORT_STATUS), text::kPortOpen) << link().m_lastFailure.message;
        Click(IDC_READ_INFO);
        ASSERT_TRUE(RunUntil([&] { return dlg().m_strCommand.empty(); }));
        EXPECT_EQ(dlg().LastOutcome(), CKorvelDlg::Outcome::Answered);
        EXPECT_EQ(Text(IDC_PRODUCT_NO), u"1234");
        EXPECT_TRUE(Visible(IDC_READ_DATA));
        EXPECT_TRUE(Visible(IDC_SYNC_TIME));
    }
}

// The device hangs up 20 bytes into its answer to "info", in the middle of the information line; the
// first "读信息" after it is plugged in again fills the fields.
TEST_F(EngineOnSim, AnInformationReplyCutByAHangUpLeavesNothingForTheNextConnection) {
    Start({"--records", "20", "--hangup-after", "20"});
    Tick();
    ASSERT_TRUE(link().m_bOpen) << link().m_lastFailure.message;
    Click(IDC_READ_INFO);
    ASSERT_TRUE(RunUntil([&] { return link().m_bOpen == 0; }));
    EXPECT_EQ(Text(IDC_PORT_STATUS), text::kPortClosed);
    EXPECT_EQ(Text(IDC_PRODUCT_NO), u"");

    ASSERT_TRUE(sim_.Control("replug"));
    ASSERT_TRUE(sim_.WaitForEvent("pty "));
    Tick();
    ASSERT_EQ(Text(IDC_PORT_STATUS), text::kPortOpen) << link().m_lastFailure.message;
    Click(IDC_READ_INFO);
    ASSERT_TRUE(RunUntil([&] { return dlg().m_strCommand.empty(); }));
    EXPECT_EQ(dlg().LastOutcome(), CKorvelDlg::Outcome::Answered);
    EXPECT_EQ(Text(IDC_PRODUCT_NO), u"1234");
}

}  // namespace
}  // namespace korvel
