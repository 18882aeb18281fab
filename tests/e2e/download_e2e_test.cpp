// SPDX-License-Identifier: MIT
// Whole downloads from korvel-sim through the shared live rig, checked against the simulator's own device
// model; the walk's single steps are in records/walk_test.cpp, opening and hang-up in engine_sim_test.cpp.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "records/record_file.h"
#include "records/scan.h"
#include "sim/recorder.h"
#include "support/live_dialog.h"
#include "support/sim_process.h"
#include "support/temp_folder.h"
#include "text/utf8.h"

namespace korvel {
namespace {

constexpr char kDeviceClock[] = "2024-03-05 07:08:09";
constexpr int kProduct = 815;

using testing::LiveDialog;

// Starts a walk and waits for its end; returns the record file's bytes.
std::string Download(LiveDialog& live) {
    EXPECT_TRUE(live.Download()) << "the walk did not end, or its file was not written";
    std::ifstream in(live.FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    void SetUp() override { ASSERT_FALSE(folder_.path().empty()); }

    // Starts the simulator and the dialog and reads the device information.
    void Connect(const Device& device, const std::vector<std::string>& faults = {}) {
        std::vector<std::string> args = device.Args();
        args.insert(args.end(), faults.begin(), faults.end());
        ASSERT_TRUE(sim_.Start(args)) << sim_.error();
        live_ =
            std::make_unique<LiveDialog>(sim_.pty_path(), folder_.path(), LiveDialog::Heartbeat::WhenQuiet);
        ASSERT_TRUE(live_->Connect()) << live_->Failure();
        ASSERT_TRUE(live_->ReadInfo());
        ASSERT_EQ(live_->dlg.m_nHeadIndex, device.Model().head());
    }

    testing::TempFolder folder_;
    testing::SimProcess sim_;
    std::unique_ptr<LiveDialog> live_;
};

TEST_P(DownloadE2E, FullDownloadHoldsEveryRecordOldestFirst) {
    Device device{300, false, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    std::string file = Download(*live_);
    EXPECT_EQ(file, Expected(model, live_->dlg.m_strUtcOffset, model.tail()));
    EXPECT_TRUE(WellFormed(file));
}

TEST_P(DownloadE2E, IncrementalDownloadStartsAtThePreviouslyNewestRecord) {
    Device device{200, false, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    std::string first = Download(*live_);
    EXPECT_EQ(first, Expected(model, live_->dlg.m_strUtcOffset, model.tail()));

    const int previous_head = model.head();
    ASSERT_TRUE(sim_.AddRecords(150));
    model.AddRecords(150);
    ASSERT_TRUE(live_->ReadInfo());
    std::string second = Download(*live_);
    EXPECT_EQ(second, Expected(model, live_->dlg.m_strUtcOffset, previous_head - 1));

    // Nothing new: the file holds just the newest record again.
    ASSERT_TRUE(live_->ReadInfo());
    EXPECT_EQ(Download(*live_), Expected(model, live_->dlg.m_strUtcOffset, model.head() - 1));
}

TEST_P(DownloadE2E, WrappedRing) {
    Device device{600, true, GetParam()};
    Connect(device);
    if (HasFatalFailure()) return;
    sim::Recorder model = device.Model();
    ASSERT_LT(model.head(), model.tail());
    EXPECT_EQ(Download(*live_), Expected(model, live_->dlg.m_strUtcOffset, model.tail()));
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
    std::string file = Download(*live_);
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
