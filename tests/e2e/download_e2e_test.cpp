// SPDX-License-Identifier: MIT
// Downloads from korvel-sim over a pseudo-terminal through the real serial layer and the whole dialog
// engine. The expected records come from the simulator's own device model with the same settings.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "app/event_loop.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "serial/port_name.h"
#include "serial/serial_link.h"
#include "sim/recorder.h"
#include "support/fake_port.h"
#include "support/sim_process.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace korvel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kDeviceClock[] = "2024-03-05 07:08:09";
constexpr int kProduct = 815;

// The dialog on an event loop with the real serial layer. The heartbeat ticks whenever the line has
// been quiet for a while instead of every second, so a lost reply is repeated without a long wait.
class LiveDialog {
  public:
    LiveDialog(const std::string& port, const std::string& upload_dir) {
        ports_.names = {PortName(port)};
        link_.m_hNotifyWnd = loop_.Poster();
        link_.m_reopenPause = 0ms;
        dlg.OnInitDialog();
        // The port is chosen here rather than discovered: a pseudo-terminal is no serial port to the system.
        window_.ComboReset(IDC_PORT);
        window_.ComboAdd(IDC_PORT, PortName(port));
        window_.ComboSelect(IDC_PORT, 0);
        dlg.m_strUploadDir = Utf8ToWide(upload_dir);
        Tick();
    }
    ~LiveDialog() { dlg.Dispatch(Message{Msg::Destroy}); }

    void Tick() { dlg.Dispatch(Message{Msg::Timer}); }
    bool Open() const { return link_.m_bOpen != 0; }
    const std::string& OpenFailure() const { return link_.m_lastFailure.message; }

    bool RunUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
        const auto deadline = Clock::now() + limit;
        auto quiet_since = Clock::now();
        uint32_t rx = dlg.m_nRxBytes, tx = dlg.m_nTxBytes;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            loop_.RunOnce(20ms);
            if (rx != dlg.m_nRxBytes || tx != dlg.m_nTxBytes) {
                rx = dlg.m_nRxBytes, tx = dlg.m_nTxBytes;
                quiet_since = Clock::now();
            } else if (Clock::now() - quiet_since > 200ms) {
                Tick();
                quiet_since = Clock::now();
            }
        }
        return true;
    }

    // The information request is not repeated by the dialog; a lost reply is asked for again here.
    bool ReadInfo() {
        for (int attempt = 0; attempt < 10; ++attempt) {
            dlg.OnReadInfo();
            if (!RunUntil([this] { return dlg.m_strCommand.empty() || dlg.m_nReplyTimeout == 0; }, 20s))
                return false;
            if (dlg.m_strCommand.empty() && dlg.m_bReplyOk) return true;
        }
        return false;
    }
    // Starts a walk and waits for its end; returns the record file's bytes.
    std::string Download() {
        clock_.local.second += 1;  // every download gets a name of its own
        dlg.OnReadData();
        EXPECT_TRUE(RunUntil([this] { return dlg.m_strCommand != u"get"; })) << "the walk did not end";
        EXPECT_FALSE(dlg.m_bSaveFailed);
        std::ifstream in(WideToUtf8(JoinPath(dlg.m_strUploadDir, dlg.m_strFileName)), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

  private:
    EventLoop loop_;
    MemoryWindow window_;
    FixedClock clock_;
    testing::FakePortList ports_;
    SerialLink link_;

  public:
    CKorvelDlg dlg{window_, link_, clock_, ports_};
};

struct Device {
    int records;
    bool wrap = false;
    int protocol;
    int seed = 1;

    std::vector<std::string> Args() const {
        std::vector<std::string> args = {
            "--records", std::to_string(records),  "--protocol", std::to_string(protocol),
            "--product", std::to_string(kProduct), "--clock",    kDeviceClock};
        if (wrap) args.push_back("--wrap");
        args.insert(args.end(), {"--seed", std::to_string(seed)});
        return args;
    }
    sim::Recorder Model() const {
        sim::RecorderConfig config;
        config.records = records;
        config.protocol = protocol;
        config.product = std::to_string(kProduct);
        config.clock = *sim::ParseDeviceTime(kDeviceClock);
        if (wrap) config.head = records / 2;
        config.seed = static_cast<uint64_t>(seed);
        return sim::Recorder(config);
    }
};

// The file the walk writes for the model's records from index `from` (exclusive) up to the head.
std::string Expected(const sim::Recorder& model, const std::u16string& offset, int from) {
    std::string bytes;
    for (int i = (from + 1) & 0x7FFF; i != ((model.head() + 1) & 0x7FFF); i = (i + 1) & 0x7FFF) {
        std::istringstream words(model.RecordText(i));
        std::string date, time, value, product;
        words >> date >> time >> value >> product;
        bytes +=
            MakeRecordLine(Utf8ToWide(date + " " + time) + offset + Utf8ToWide(" " + value + " " + product));
    }
    return bytes;
}

// Every line valid for the product, in chronological order, none twice.
::testing::AssertionResult WellFormed(const std::string& file) {
    std::istringstream in(file);
    std::u16string previous;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        std::u16string valid = ValidateRecordLine(Utf8ToWide(line), kProduct);
        if (valid.empty())
            return ::testing::AssertionFailure() << "line " << number << " is not valid: " << line;
        if (!previous.empty() && valid <= previous)
            return ::testing::AssertionFailure() << "line " << number << " is not newer than the one before";
        previous = valid;
    }
    return ::testing::AssertionSuccess();
}

class DownloadE2E : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        std::string templ = (std::filesystem::temp_directory_path() / "korvel-e2e-XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        folder_ = templ;
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    // Starts the simulator and the dialog and reads the device information.
    void Connect(const Device& device, const std::vector<std::string>& faults = {}) {
        std::vector<std::string> args = device.Args();
        args.insert(args.end(), faults.begin(), faults.end());
        ASSERT_TRUE(sim_.Start(args)) << sim_.error();
        live_ = std::make_unique<LiveDialog>(sim_.pty_path(), folder_);
        ASSERT_TRUE(live_->Open()) << live_->OpenFailure();
        ASSERT_TRUE(live_->ReadInfo());
        ASSERT_EQ(live_->dlg.m_nHeadIndex, device.Model().head());
    }

    std::string folder_;
    testing::SimProcess sim_;
    std::unique_ptr<LiveDialog> live_;
};

TEST_P(DownloadE2E, FullDownloadHoldsEveryRecordOldestFirst) {
    Device device{300, false, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    std::string file = live_->Download();
    EXPECT_EQ(file, Expected(model, live_->dlg.m_strUtcOffset, model.tail()));
    EXPECT_TRUE(WellFormed(file));
}

TEST_P(DownloadE2E, IncrementalDownloadStartsAtThePreviouslyNewestRecord) {
    Device device{200, false, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    std::string first = live_->Download();
    EXPECT_EQ(first, Expected(model, live_->dlg.m_strUtcOffset, model.tail()));

    const int previous_head = model.head();
    ASSERT_TRUE(sim_.AddRecords(150));
    model.AddRecords(150);
    ASSERT_TRUE(live_->ReadInfo());
    std::string second = live_->Download();
    EXPECT_EQ(second, Expected(model, live_->dlg.m_strUtcOffset, previous_head - 1));

    // Nothing new: the file holds just the newest record again.
    ASSERT_TRUE(live_->ReadInfo());
    EXPECT_EQ(live_->Download(), Expected(model, live_->dlg.m_strUtcOffset, model.head() - 1));
}

TEST_P(DownloadE2E, WrappedRing) {
    Device device{600, true, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    ASSERT_LT(model.head(), model.tail());
    EXPECT_EQ(live_->Download(), Expected(model, live_->dlg.m_strUtcOffset, model.tail()));
}

TEST_P(DownloadE2E, TransmissionFaultsAreRepeatedAway) {
    const int protocol = GetParam();
    Device device{protocol == 1 ? 150 : 2000, false, protocol, 7};
    // Checksum errors are rarer per line in batches: a reply of 100 lines is repeated whenever any
    // one of them fails.
    Connect(device, {"--corrupt-crc", protocol == 1 ? "0.05" : "0.002", "--drop-replies", "0.03",
                     "--messages", "0.05", "--chunk", "1", "--chunk-gap-us", "0"});
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    std::string file = live_->Download();
    EXPECT_TRUE(WellFormed(file));
    EXPECT_EQ(file, Expected(model, live_->dlg.m_strUtcOffset, model.tail()));
    EXPECT_TRUE(live_->dlg.m_skippedIndices.empty());
    // The faults did happen: lines failed their checksum and requests went out more than once.
    EXPECT_GT(live_->dlg.m_nCrcErrors, 0u);
    std::vector<std::string> requests = sim_.Requests();
    EXPECT_GT(requests.size(), std::set<std::string>(requests.begin(), requests.end()).size());
}

INSTANTIATE_TEST_SUITE_P(Protocol, DownloadE2E, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& level) {
                             return "Level" + std::to_string(level.param);
                         });

}  // namespace
}  // namespace korvel
