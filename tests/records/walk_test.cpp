// The download walk driven through the dialog: the simulator's device model answers every request line
// the dialog shows, as checksummed bytes through the line framing, and each test adds the fault it
// studies. Whole downloads over a real port are in e2e/download_e2e_test.cpp; a saved file that cannot be
// opened in ui/dialog_posix_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "ledger/ledger.h"
#include "platform/sha256.h"
#include "protocol/checked_line.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "sim/recorder.h"
#include "support/dialog_rig.h"
#include "support/files.h"
#include "text/format.h"
#include "text/utf8.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using testing::DialogRig;
using testing::ListFiles;
using testing::ReadFile;
using testing::WriteFile;

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The stored line of a record, as the walk writes it for product 0123 at +08:00.
std::string StoredLine(const std::string& key, const std::string& value) {
    return MakeRecordLine(Utf8ToWide(key + "+08:00 " + value + " 0123"));
}

struct Recorder {
    std::unique_ptr<sim::Recorder> model;
    int tokens = 5;  // record lines are cut to 3 or 4 tokens, or get a sixth
    // Called for each record line sent; true makes its checksum wrong.
    std::function<bool(int index, int request)> corrupt = [](int, int) { return false; };
    // Called for each request; a line to put in the body before the records, or empty.
    std::function<std::string(int request)> junk = [](int) { return std::string(); };
    std::set<int> withheld;  // records the device leaves out of its answers
    std::vector<std::u16string> requests;

    // Records from..to (ring indices taken modulo the ring), the newest at `to`; `from - 1` is the tail.
    void Fill(int from, int to) {
        sim::RecorderConfig config;
        config.records = to - from + 1;
        config.head = to & kIndexMask;
        config.protocol = 0;  // plain lines: the checksum is put on here, where a test may damage it
        config.product = "0123";
        config.clock = *sim::ParseDeviceTime("2022-07-30 10:00:00") + config.records * sim::kRecordInterval;
        model = std::make_unique<sim::Recorder>(config);
        withheld.clear();
        requests.clear();
    }
    std::string Line(int i) const { return model->RecordText(i & kIndexMask); }
    std::string Key(int i) const { return Line(i).substr(0, 19); }
    std::string Value(int i) const { return Words(Line(i))[2]; }
    std::string Stored(int i) const { return StoredLine(Key(i), Value(i)); }
    std::string Expected(int from, int to) const {
        std::string bytes;
        for (int i = from; i <= to; ++i) bytes += Stored(i);
        return bytes;
    }

    // Answers the request line; returns false when it is not a record request.
    bool Answer(DialogRig& rig, const std::u16string& request) {
        requests.push_back(request);
        const std::string text = WideToUtf8(request);
        if (!text.starts_with("get ") && !text.starts_with("get2 ")) return false;
        const int n = static_cast<int>(requests.size());
        std::string reply;
        for (const std::string& line : model->Handle(text, 0)) {
            if (line.empty() || line.starts_with("OK") || line.starts_with("ERR")) {
                reply += line + "\n";
                if (line == "OK" && !junk(n).empty()) reply += junk(n) + "\n";
                continue;
            }
            std::vector<std::string> words = Words(line);
            const int index = std::stoi(words[4]);
            if (withheld.count(index)) continue;
            words.resize(std::min(tokens, 5));
            if (tokens >= 6) words.push_back("extra");
            std::string sent;
            for (const std::string& word : words) sent += (sent.empty() ? "" : " ") + word;
            sent = WithChecksum(sent);
            if (corrupt(index, n)) sent.back() = sent.back() == '0' ? '1' : '0';
            reply += sent + "\n";
        }
        rig.dlg.OnSerialData(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<int>(reply.size()));
        return true;
    }

    // Answers until the walk ends (or stalls); returns the number of requests answered. A reply the walk
    // refused leaves its request to the timeout: the ticks run until it is sent again.
    int Serve(DialogRig& rig, int limit = 100000) {
        int served = 0;
        while (rig.dlg.m_strCommand == u"get" && served < limit && Answer(rig, rig.Text(IDC_LAST_COMMAND))) {
            ++served;
            if (rig.dlg.LastRefusal() != ReplyRefusal::None) AwaitRepeat(rig);
        }
        return served;
    }
    static void AwaitRepeat(DialogRig& rig) {
        for (int tick = 0; tick < 3 && rig.dlg.LastRefusal() != ReplyRefusal::None; ++tick) rig.Tick();
    }
};

class WalkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        rig.Init();
        rig.dlg.m_strUtcOffset = u"+08:00";
        rig.dlg.m_strProductNo = u"0123";
        folder = WideToUtf8(rig.dlg.m_strUploadDir);
    }
    void Device(int head, int tail, int protocol) {
        rig.dlg.m_nHeadIndex = head;
        rig.dlg.m_nTailIndex = tail;
        rig.dlg.m_nProtocol = protocol;
    }
    std::string FilePath() const { return folder + "/" + WideToUtf8(rig.dlg.m_strFileName); }
    std::string FileBytes() const { return ReadFile(FilePath()); }
    std::string Stored(int i) const { return recorder.Stored(i); }
    std::string Expected(int from, int to) const { return recorder.Expected(from, to); }
    void Save(const std::string& name, const std::string& bytes) { WriteFile(folder + "/" + name, bytes); }
    void ClearFolder() {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
    }

    DialogRig rig;
    Recorder recorder;
    std::string folder;
};

TEST_F(WalkTest, FourRecordsAtProtocolOneOneRequestEach) {
    Device(4, 0, 1);
    recorder.Fill(1, 4);
    rig.dlg.OnReadData();
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kStopReadData);
    for (int id : {IDC_READ_INFO, IDC_SYNC_TIME, IDC_PORT, IDC_BAUD})
        EXPECT_FALSE(rig.window.Enabled(id)) << id;
    EXPECT_EQ(rig.window.Control(IDC_PROGRESS).progress_high, 10000);

    std::vector<std::u16string> progress;
    for (int step = 0; step < 4; ++step) {
        recorder.Answer(rig, rig.Text(IDC_LAST_COMMAND));
        progress.push_back(rig.Text(IDC_RESULT));
        rig.clock.now += 2;
    }
    EXPECT_EQ(recorder.requests, (std::vector<std::u16string>{u"get 4", u"get 3", u"get 2", u"get 1"}));
    EXPECT_EQ(progress, (std::vector<std::u16string>{u"25.0%", u"50.0%", u"75.0%", u"读取完成，耗时6秒"}));
    EXPECT_EQ(rig.window.Control(IDC_PROGRESS).progress_pos, 7500);
    EXPECT_EQ(rig.dlg.m_strFileName, u"240305-070809-123-7b.txt");
    EXPECT_EQ(FileBytes(), Expected(1, 4));
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kReadData);
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    EXPECT_EQ(rig.dlg.m_nReplyTimeout, 0);
    EXPECT_FALSE(rig.dlg.m_bSaveFailed);
    for (int id : {IDC_READ_INFO, IDC_SYNC_TIME, IDC_PORT, IDC_BAUD})
        EXPECT_TRUE(rig.window.Enabled(id)) << id;
}

TEST_F(WalkTest, BatchesAskForAtMostAHundredRecords) {
    Device(250, 0, 2);
    recorder.Fill(1, 250);
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(recorder.requests,
              (std::vector<std::u16string>{u"get2 250 -100", u"get2 150 -100", u"get2 50 -50"}));
    EXPECT_EQ(FileBytes(), Expected(1, 250));
}

TEST_F(WalkTest, BatchCountFollowsTheRingDistance) {
    struct Case {
        int read, tail;
        std::u16string line;
    };
    for (const Case& c : {Case{17, 5, u"get2 17 -12"}, Case{3, 32000, u"get2 3 -100"},
                          Case{0, 32767, u"get2 0 -1"}, Case{4, 3, u"get2 4 -1"}}) {
        Device(c.read, c.tail, 2);
        rig.dlg.OnReadData();
        EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), c.line);
        rig.dlg.OnReadData();  // cancel
    }
}

TEST_F(WalkTest, WrappedRingAndIndexZeroStepToTheTop) {
    for (int protocol : {1, 2}) {
        Device(3, 32760, protocol);
        recorder.Fill(32761, 32768 + 3);
        ClearFolder();
        rig.dlg.OnReadData();
        recorder.requests.clear();
        recorder.Serve(rig);
        EXPECT_EQ(FileBytes(), Expected(32761, 32768 + 3)) << protocol;
        if (protocol == 1) {
            EXPECT_EQ(recorder.requests[4], u"get 32767");
        }
        rig.clock.local.second += 1;
    }
}

TEST_F(WalkTest, SavedNewestRecordEndsTheWalkAfterTheFirstReply) {
    Device(40, 0, 1);
    recorder.Fill(1, 40);
    Save("220101-000000-123-7b.txt", Expected(1, 40));
    rig.dlg.OnReadData();
    EXPECT_EQ(rig.dlg.m_strLastSaved, Utf8ToWide(recorder.Key(40)));
    EXPECT_EQ(recorder.Serve(rig), 1);
    EXPECT_EQ(FileBytes(), Stored(40));
}

TEST_F(WalkTest, IncrementalDownloadBeginsWithThePreviouslyNewestRecord) {
    for (int protocol : {1, 2}) {
        Device(130, 0, protocol);
        recorder.Fill(1, 130);
        ClearFolder();
        Save("sub-123-7b.txt", Expected(1, 20));
        Save("220101-000000-123-7b.txt", Expected(1, 100));
        Save("220101-000000-124-7c.txt", Expected(1, 120));  // another device
        rig.dlg.OnReadData();
        recorder.Serve(rig);
        EXPECT_EQ(FileBytes(), Expected(100, 130)) << protocol;
        rig.clock.local.minute += 1;
    }
}

TEST_F(WalkTest, RecordFieldsFromThreeFourAndSixTokens) {
    struct Case {
        int tokens;
        std::u16string product_text;
        std::string product_field;
    };
    for (const Case& c : {Case{3, u"0123", "0123"}, Case{3, u"abc", "0000"}, Case{3, u"7", "0007"},
                          Case{4, u"999", "0123"}, Case{6, u"0123", "0123"}}) {
        Device(2, 0, 1);
        recorder.Fill(1, 2);
        recorder.tokens = c.tokens;
        ClearFolder();
        rig.dlg.m_strProductNo = c.product_text;
        rig.dlg.OnReadData();
        recorder.Serve(rig);
        std::string expected;
        for (int i = 1; i <= 2; ++i)
            expected += MakeRecordLine(
                Utf8ToWide(recorder.Key(i) + "+08:00 " + recorder.Value(i) + " " + c.product_field));
        EXPECT_EQ(FileBytes(), expected) << c.tokens;
        rig.clock.local.second += 1;
    }
}

TEST_F(WalkTest, FifthTokenSetsTheNextRequest) {
    Device(300, 0, 2);
    rig.dlg.OnReadData();
    // The device answers the batch from 300 with a record that names index 90, and a sixth token.
    std::string reply = "OK\n" + WithChecksum("2022-07-30 10:00:00 5 0123 90 extra") + "\n\n";
    rig.dlg.OnSerialData(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<int>(reply.size()));
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get2 89 -89");
    rig.dlg.OnReadData();  // cancel
    EXPECT_EQ(rig.dlg.m_recordBuffer,
              std::vector<std::string>{MakeRecordLine(u"2022-07-30 10:00:00+08:00 5 0123")});
}

TEST_F(WalkTest, LinesWithTooFewTokensAreRefused) {
    Device(5, 0, 1);
    recorder.Fill(1, 5);
    recorder.junk = [](int request) {
        return request == 1 ? std::string(WithChecksum("2022-07-30 10:00:00")) : "";
    };
    rig.dlg.OnReadData();
    recorder.Answer(rig, rig.Text(IDC_LAST_COMMAND));
    // Refused: nothing stored, and the request waits for its timeout.
    EXPECT_EQ(rig.dlg.LastRefusal(), ReplyRefusal::Rejected);
    EXPECT_EQ(rig.dlg.m_strCommand, u"get");
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    rig.Tick();
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");  // not yet asked again
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 5");
    recorder.Serve(rig);
    // Repeated by the timeout, then the walk went on as usual.
    EXPECT_EQ(recorder.requests.size(), 6u);
    EXPECT_EQ(recorder.requests[0], recorder.requests[1]);
    EXPECT_EQ(FileBytes(), Expected(1, 5));
}

TEST_F(WalkTest, EmptyBodiesStepDownOneIndex) {
    Device(6, 0, 1);
    recorder.Fill(1, 3);  // 4..6 hold nothing
    rig.dlg.OnReadData();
    recorder.Answer(rig, rig.Text(IDC_LAST_COMMAND));
    EXPECT_EQ(recorder.requests[0], u"get 6");
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 5");
    EXPECT_TRUE(rig.dlg.m_recordBuffer.empty());
    recorder.Serve(rig);
    EXPECT_EQ(FileBytes(), Expected(1, 3));
}

TEST_F(WalkTest, CancelLeavesNoFile) {
    Device(4, 0, 1);
    recorder.Fill(1, 4);
    Save("240305-070809-123-7b.txt", "an earlier download of the same second\n");
    rig.dlg.OnReadData();
    recorder.Answer(rig, rig.Text(IDC_LAST_COMMAND));
    rig.window.SetProgressPos(IDC_PROGRESS, 2500);
    rig.dlg.OnReadData();
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kCancelled);
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kReadData);
    EXPECT_EQ(rig.window.Control(IDC_PROGRESS).progress_pos, 0);
    EXPECT_EQ(rig.dlg.m_strCommand, u"");
    for (int id : {IDC_READ_INFO, IDC_SYNC_TIME, IDC_PORT, IDC_BAUD})
        EXPECT_TRUE(rig.window.Enabled(id)) << id;
    const std::vector<std::string> earlier{"240305-070809-123-7b.txt"};
    EXPECT_EQ(ListFiles(folder), earlier);  // the earlier download of the same second is kept
    // A reply that still comes after the cancel changes nothing.
    recorder.Answer(rig, u"get 3");
    EXPECT_EQ(ListFiles(folder), earlier);
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kCancelled);
}

TEST_F(WalkTest, MissingReplyIsRepeatedByTheTimeout) {
    Device(4, 0, 1);
    recorder.Fill(1, 4);
    rig.dlg.OnReadData();
    rig.device->ClearWrites();
    rig.Tick();
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_RESULT), u"");
    rig.Tick();
    EXPECT_EQ(rig.Text(IDC_RESULT), text::kNoReply);
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get 4");
    recorder.Serve(rig);
    EXPECT_EQ(FileBytes(), Expected(1, 4));
}

// --- faults of the walk as first described, now mended ---

TEST_F(WalkTest, AWalkThatAcceptedNothingDoesNotEndAsCaughtUp) {
    // No saved file: a first reply without an accepted record must not end the walk.
    Device(3, 0, 1);
    recorder.Fill(1, 2);  // index 3 answers with an empty body
    rig.dlg.m_strLastSeen.clear();
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(FileBytes(), Expected(1, 2));

    // Nor does a key left over from an earlier walk of this run.
    rig.clock.local.second += 1;
    const std::string before =
        sim::FormatDeviceTime(*sim::ParseDeviceTime(recorder.Key(1)) - sim::kRecordInterval);
    rig.dlg.m_strLastSeen = Utf8ToWide(before);
    std::filesystem::remove(FilePath());
    Save("x-123-7b.txt", StoredLine(before, "0"));  // the saved key is the one last seen
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(FileBytes(), Expected(1, 2));
}

TEST_F(WalkTest, AFileThatCannotBeWrittenIsReportedAsAFailure) {
    Device(2, 0, 1);
    recorder.Fill(1, 2);
    rig.dlg.OnReadData();
    std::filesystem::remove_all(folder);  // the upload folder vanished during the walk
    recorder.Serve(rig);
    EXPECT_TRUE(rig.dlg.m_bSaveFailed);
    EXPECT_EQ(rig.dlg.m_saveFailure.code, ENOENT) << rig.dlg.m_saveFailure.message;
    EXPECT_EQ(rig.Text(IDC_RESULT), u"保存失败：" + JoinPath(rig.dlg.m_strUploadDir, rig.dlg.m_strFileName));
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kReadData);
    EXPECT_FALSE(std::filesystem::exists(folder));

    // The next walk that can write clears the failure.
    std::filesystem::create_directory(folder);
    rig.clock.local.second += 1;
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_FALSE(rig.dlg.m_bSaveFailed);
    EXPECT_EQ(ListFiles(folder).size(), 1u);
}

TEST_F(WalkTest, TheSavedFileIsRecordedInTheLedgerBeforeTheWalkSaysItIsDone) {
    Device(4, 0, 1);
    recorder.Fill(1, 4);
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    ASSERT_FALSE(rig.dlg.m_bSaveFailed) << rig.dlg.m_saveFailure.message;
    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder, ledger));
    ASSERT_EQ(ledger.entries.size(), 1u);
    const LedgerEntry& entry = ledger.entries[0];
    EXPECT_EQ(entry.kind, LedgerEntryKind::Downloaded);
    EXPECT_EQ(entry.file, WideToUtf8(rig.dlg.m_strFileName));
    EXPECT_EQ(entry.product, 123u);
    EXPECT_EQ(entry.size, Expected(1, 4).size());
    EXPECT_EQ(entry.sha256, Sha256Hex(Expected(1, 4)));
    EXPECT_EQ(entry.records, 4u);
    EXPECT_EQ(entry.first_key, recorder.Key(1) + "+08:00");
    EXPECT_EQ(entry.last_key, recorder.Key(4) + "+08:00");
}

TEST_F(WalkTest, ALedgerThatCannotBeWrittenFailsTheWalkLoudlyAndKeepsTheFile) {
    Device(4, 0, 1);
    recorder.Fill(1, 4);
    std::filesystem::create_directory(folder + "/" + kLedgerFileName);  // no file can take its name
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_TRUE(rig.dlg.m_bSaveFailed);
    EXPECT_EQ(FileBytes(), Expected(1, 4));
    EXPECT_EQ(rig.Text(IDC_RESULT), std::u16string(text::kNotRecordedPrefix) + rig.dlg.SavedFilePath());
    EXPECT_NE(rig.dlg.m_saveFailure.message.find(" was saved but not recorded in the ledger"),
              std::string::npos)
        << rig.dlg.m_saveFailure.message;
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kReadData);

    // Once the ledger can be written the next download is recorded; the file before stays unrecorded.
    std::filesystem::remove(folder + "/" + kLedgerFileName);
    recorder.Fill(1, 6);
    Device(6, 0, 1);
    rig.clock.local.second += 1;
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_FALSE(rig.dlg.m_bSaveFailed) << rig.dlg.m_saveFailure.message;
    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder, ledger));
    ASSERT_EQ(ledger.entries.size(), 1u);
    EXPECT_EQ(ledger.entries[0].file, WideToUtf8(rig.dlg.m_strFileName));
}

TEST_F(WalkTest, AFolderThatCannotTakeTheFileStopsTheWalkBeforeAnyRequest) {
    Device(2, 0, 1);
    recorder.Fill(1, 2);
    std::filesystem::remove_all(folder);
    rig.dlg.OnReadData();
    EXPECT_EQ(rig.dlg.m_strCommand, u"");  // nothing asked of the device
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"");
    EXPECT_TRUE(rig.dlg.m_bSaveFailed);
    const std::u16string shown = rig.Text(IDC_RESULT);
    EXPECT_EQ(shown.rfind(u"保存失败：" + rig.dlg.m_strUploadDir + u"：", 0), 0u) << WideToUtf8(shown);
    EXPECT_GT(shown.size(), (u"保存失败：" + rig.dlg.m_strUploadDir + u"：").size());  // and the reason
    EXPECT_EQ(rig.Text(IDC_READ_DATA), text::kReadData);
}

TEST_F(WalkTest, RecordsOlderThanTheSavedKeyAreNewAndStillMoveAHundredAtATime) {
    // The device clock was set back: every record is older than the saved key, and none is it.
    Device(300, 0, 2);
    recorder.Fill(1, 300);
    Save("x-123-7b.txt", StoredLine("2099-01-01 00:00:00", "5"));
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(recorder.requests,
              (std::vector<std::u16string>{u"get2 300 -100", u"get2 200 -100", u"get2 100 -100"}));
    EXPECT_EQ(FileBytes(), Expected(1, 300));
    EXPECT_TRUE(rig.dlg.m_skippedIndices.empty());
}

TEST_F(WalkTest, ADamagedReplyIsAskedForAgain) {
    for (int protocol : {1, 2}) {
        Device(250, 0, protocol);
        recorder.Fill(1, 250);
        ClearFolder();
        // Every tenth record fails on its first two transmissions.
        std::map<int, int> sent;
        recorder.corrupt = [&](int index, int) { return index % 10 == 0 && ++sent[index] <= 2; };
        rig.dlg.OnReadData();
        recorder.Serve(rig);
        EXPECT_EQ(FileBytes(), Expected(1, 250)) << protocol;
        EXPECT_EQ(rig.Text(IDC_MESSAGE).find(u"跳过"), std::u16string::npos);
        rig.clock.local.second += 1;
    }
}

TEST_F(WalkTest, ALateAnswerToARepeatedRequestIsNotStoredTwice) {
    // A slow device: the timeout repeats the first request, then the late answer and the answer to the
    // repetition both arrive, the second while the walk already waits for the next request.
    for (int protocol : {1, 2}) {
        Device(250, 0, protocol);
        recorder.Fill(1, 250);
        ClearFolder();
        rig.dlg.OnReadData();
        const std::u16string first = rig.Text(IDC_LAST_COMMAND);
        for (int i = 0; i < 3; ++i) rig.Tick();
        ASSERT_EQ(rig.Text(IDC_RESULT), text::kNoReply);
        recorder.Answer(rig, first);
        const std::u16string next = rig.Text(IDC_LAST_COMMAND);
        ASSERT_NE(next, first);
        recorder.Answer(rig, first);
        EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), next) << "the late answer moved the walk";
        recorder.Serve(rig);
        EXPECT_EQ(FileBytes(), Expected(1, 250)) << protocol;
        rig.clock.local.second += 1;
    }
}

TEST_F(WalkTest, ALineThatAlwaysFailsIsSkippedAfterThreeRepetitionsAndCounted) {
    Device(5, 0, 1);
    recorder.Fill(1, 5);
    recorder.corrupt = [](int index, int) { return index == 3; };
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    // get 3 went out four times: the first and three repetitions.
    EXPECT_EQ(std::count(recorder.requests.begin(), recorder.requests.end(), u"get 3"), 4);
    EXPECT_EQ(FileBytes(), Stored(1) + Stored(2) + Stored(4) + Stored(5));
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"跳过1条校验错误的记录");
    EXPECT_EQ(rig.Text(IDC_RESULT), u"读取完成，耗时0秒");
}

TEST_F(WalkTest, ChecksumFailureOnTheLastLineOfABatchIsFetchedAgain) {
    Device(150, 0, 2);
    recorder.Fill(1, 150);
    // Index 51 ends the first batch; it fails in all four transmissions of that batch only.
    recorder.corrupt = [](int index, int request) { return index == 51 && request <= 4; };
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(recorder.requests[4], u"get2 51 -51");  // the next batch starts at the dropped record
    EXPECT_EQ(FileBytes(), Expected(1, 150));
    EXPECT_TRUE(rig.dlg.m_skippedIndices.empty());  // nothing was lost after all
    EXPECT_EQ(rig.Text(IDC_MESSAGE).find(u"跳过"), std::u16string::npos);
}

TEST_F(WalkTest, ALostLineInTheMiddleOfABatchIsCounted) {
    Device(150, 0, 2);
    recorder.Fill(1, 150);
    recorder.corrupt = [](int index, int) { return index == 120 || index == 30; };
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    std::string expected;
    for (int i = 1; i <= 150; ++i)
        if (i != 120 && i != 30) expected += Stored(i);
    EXPECT_EQ(FileBytes(), expected);
    EXPECT_EQ(rig.Text(IDC_MESSAGE), u"跳过2条校验错误的记录");
}

TEST_F(WalkTest, ARefusedBatchStoresNothingTwice) {
    Device(10, 0, 2);
    recorder.Fill(1, 10);
    rig.dlg.OnReadData();
    // The first reply breaks off after two good lines with a line of too few tokens.
    std::string reply = "OK\n" + WithChecksum(recorder.Line(10)) + "\n" + WithChecksum(recorder.Line(9)) +
                        "\n" + WithChecksum("2022-07-30 10:00:00") + "\n\n";
    rig.dlg.OnSerialData(reinterpret_cast<const uint8_t*>(reply.data()), static_cast<int>(reply.size()));
    rig.window.SetText(IDC_LAST_COMMAND, u"");
    Recorder::AwaitRepeat(rig);
    EXPECT_EQ(rig.Text(IDC_LAST_COMMAND), u"get2 10 -10");  // asked again by the timeout
    recorder.Serve(rig);
    EXPECT_EQ(FileBytes(), Expected(1, 10));
}

// --- a damaged batch keeps what came intact; records after a clock set-back are kept ---

TEST_F(WalkTest, IntactRecordsOfEveryAttemptAreKeptAndOnlyTheMissingAskedAgain) {
    struct Case {
        const char* what;
        int protocol, records;
        // Whether the n-th transmission (from 0) of record i is damaged.
        std::function<bool(int i, int n)> damaged;
        std::vector<int> skipped;
    };
    const Case cases[] = {
        {"a different line in every attempt", 2, 250, [](int i, int n) { return (i + n) % 4 == 0; }, {}},
        {"a different line in every attempt", 1, 20, [](int i, int n) { return (i + n) % 4 == 0; }, {}},
        {"two lines always", 2, 150, [](int i, int) { return i == 120 || i == 30; }, {120, 30}},
        {"every line always", 2, 5, [](int, int) { return true; }, {5, 4, 3, 2, 1}},
    };
    for (const Case& c : cases) {
        Device(c.records, 0, c.protocol);
        recorder.Fill(1, c.records);
        ClearFolder();
        std::map<int, int> sent;
        recorder.corrupt = [&](int index, int) { return c.damaged(index, sent[index]++); };
        rig.dlg.OnReadData();
        recorder.Serve(rig);
        std::string expected;
        for (int i = 1; i <= c.records; ++i)
            if (std::find(c.skipped.begin(), c.skipped.end(), i) == c.skipped.end()) expected += Stored(i);
        EXPECT_EQ(FileBytes(), expected) << c.what;
        EXPECT_EQ(rig.dlg.m_skippedIndices, c.skipped) << c.what;
        const std::u16string message = rig.Text(IDC_MESSAGE);
        if (c.skipped.empty()) {
            EXPECT_EQ(message.find(u"跳过"), std::u16string::npos) << c.what;
        } else {
            EXPECT_EQ(message, u"跳过" + Utf8ToWide(std::to_string(c.skipped.size())) + u"条校验错误的记录")
                << c.what;
        }
        rig.clock.local.second += 1;
    }
}

// A damaged line told that a record is there: a repetition that does not bring it leaves it missing, and
// the walk reports it instead of stepping over it in silence.
TEST_F(WalkTest, ARecordThatARepetitionDoesNotBringIsReportedSkipped) {
    Device(10, 0, 2);
    recorder.Fill(1, 10);
    recorder.corrupt = [](int index, int request) { return index == 5 && request == 1; };
    rig.dlg.OnReadData();
    recorder.Answer(rig, rig.Text(IDC_LAST_COMMAND));
    recorder.withheld.insert(5);  // from now on the device answers without it
    recorder.Serve(rig);
    std::string expected;
    for (int i = 1; i <= 10; ++i)
        if (i != 5) expected += Stored(i);
    EXPECT_EQ(FileBytes(), expected);
    EXPECT_EQ(rig.dlg.m_skippedIndices, std::vector<int>{5});
}

TEST_F(WalkTest, ARepetitionAsksOnlyForTheRangeStillMissing) {
    Device(10, 0, 2);
    recorder.Fill(1, 10);
    recorder.corrupt = [](int index, int request) { return request == 1 && (index == 7 || index == 5); };
    rig.dlg.OnReadData();
    recorder.Serve(rig);
    EXPECT_EQ(recorder.requests, (std::vector<std::u16string>{u"get2 10 -10", u"get2 7 -3"}));
    EXPECT_EQ(FileBytes(), Expected(1, 10));
}

TEST_F(WalkTest, RecordsMadeAfterTheClockWasSetBackAreStored) {
    // The last download ended with record 40; the device clock was then set back by five and a half
    // intervals, so records 41..46 carry older timestamps than it, except the last.
    for (int protocol : {1, 2}) {
        Device(46, 0, protocol);
        recorder.Fill(1, 40);
        ClearFolder();
        Save("220101-000000-123-7b.txt", Expected(1, 40));
        const int64_t newest = *sim::ParseDeviceTime(recorder.Key(40));
        recorder.model->SetClock(newest - 4 * sim::kRecordInterval - sim::kRecordInterval / 2, 0);
        recorder.model->AddRecords(6);
        ASSERT_LT(recorder.Key(45), recorder.Key(40));
        ASSERT_GT(recorder.Key(46), recorder.Key(40));
        rig.dlg.OnReadData();
        recorder.Serve(rig);
        EXPECT_EQ(FileBytes(), Expected(40, 46)) << protocol;
        EXPECT_TRUE(rig.dlg.m_skippedIndices.empty()) << protocol;
        rig.clock.local.second += 1;
    }
}

}  // namespace
}  // namespace korvel
