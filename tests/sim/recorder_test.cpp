// SPDX-License-Identifier: MIT
// The simulated recorder's device model, driven without a terminal; the process on a pseudo-terminal
// is in sim_process_test.cpp.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/faults.h"
#include "sim/recorder.h"
#include "support/line_words.h"

namespace korvel::sim {
namespace {

constexpr char kClock[] = "2024-03-05 07:08:09";

RecorderConfig Config(int records, int head = -1, int protocol = 2) {
    RecorderConfig c;
    c.records = records;
    c.head = head;
    c.protocol = protocol;
    c.clock = *ParseDeviceTime(kClock);
    return c;
}

using testing::Words;
bool ChecksumHolds(const std::string& line) { return testing::HasChecksumSuffix(line); }

// The host's reading of the information line: (token - 1) & 0x7FFF.
int HostIndex(const std::string& token) { return (std::atoi(token.c_str()) - 1) & 0x7FFF; }

TEST(DeviceTime, ParsesAndFormatsStrictly) {
    struct Case {
        const char* text;
        bool valid;
    };
    const Case cases[] = {
        {"2024-03-05 07:08:09", true},   {"2024-02-29 23:59:59", true},
        {"2000-02-29 00:00:00", true},   {"1999-12-31 23:59:59", true},
        {"2023-02-29 00:00:00", false},  {"1900-02-29 00:00:00", false},
        {"2024-04-31 00:00:00", false},  {"2024-13-01 00:00:00", false},
        {"2024-00-10 00:00:00", false},  {"2024-03-05 24:00:00", false},
        {"2024-03-05 07:60:00", false},  {"2024-03-05 07:08:60", false},
        {"2024-03-05T07:08:09", false},  {"2024-3-5 7:08:09", false},
        {"2024-03-05 07:08:09 ", false}, {"", false},
    };
    for (const Case& c : cases) {
        const std::optional<int64_t> t = ParseDeviceTime(c.text);
        EXPECT_EQ(t.has_value(), c.valid) << c.text;
        if (t) {
            EXPECT_EQ(FormatDeviceTime(*t), c.text);
        }
    }
    EXPECT_EQ(*ParseDeviceTime("1970-01-01 00:00:00"), 0);
    EXPECT_EQ(FormatDeviceTime(*ParseDeviceTime("2024-02-28 23:59:59") + 1), "2024-02-29 00:00:00");
}

TEST(Recorder, InformationLineCarriesRecordNumbersAndClock) {
    struct Case {
        int records, head;
        int head_index, tail_index;  // as the host computes them from tokens 5 and 6
    };
    const Case cases[] = {
        {100, -1, 100, 0},     {0, -1, 0, 0},    {10, 3, 3, 32761},
        {32767, -1, 32767, 0}, {32767, 5, 5, 6}, {1, 0, 0, 32767},
    };
    for (const Case& c : cases) {
        Recorder r(Config(c.records, c.head));
        const std::vector<std::string> reply = r.Handle("info", 0.0);
        ASSERT_EQ(reply.size(), 3u);
        EXPECT_EQ(reply[0], "OK");
        EXPECT_EQ(reply[2], "");
        const std::vector<std::string> t = Words(reply[1]);
        ASSERT_EQ(t.size(), 8u) << reply[1];
        EXPECT_EQ(t[0] + " " + t[1] + " " + t[2] + " " + t[3], "KVR 2 V3.1 1234");
        EXPECT_EQ(HostIndex(t[4]), c.head_index) << reply[1];
        EXPECT_EQ(HostIndex(t[5]), c.tail_index) << reply[1];
        EXPECT_EQ(t[6] + " " + t[7], kClock);
        EXPECT_EQ((c.head_index - c.tail_index) & 0x7FFF, c.records);
    }
}

TEST(Recorder, ClockRunsAndCanBeSet) {
    Recorder r(Config(5));
    EXPECT_EQ(Words(r.Handle("info", 65.9)[1])[7], "07:09:14");
    EXPECT_EQ(r.Handle("time 2025-12-31 23:59:58", 100.0), (std::vector<std::string>{"OK", ""}));
    const std::vector<std::string> t = Words(r.Handle("info", 102.5)[1]);
    EXPECT_EQ(t[6] + " " + t[7], "2026-01-01 00:00:00");

    // A malformed time is refused and leaves the clock alone.
    for (const char* bad :
         {"time", "time 2025-02-30 00:00:00", "time 2025-01-01", "time 2025-01-01 1:00:00"}) {
        const std::vector<std::string> reply = r.Handle(bad, 102.5);
        ASSERT_EQ(reply.size(), 2u) << bad;
        EXPECT_NE(reply[0].substr(0, 2), "OK") << bad;
        EXPECT_EQ(reply[1], "");
    }
    EXPECT_EQ(Words(r.Handle("info", 102.5)[1])[7], "00:00:00");
}

TEST(Recorder, AnswersGetOnlyForStoredRecords) {
    // Ten records that wrap round index 0: 32762..32767 and 0..3; the tail slot 32761 is empty.
    Recorder r(Config(10, 3));
    struct Case {
        int index;
        bool stored;
    };
    const Case cases[] = {{3, true},      {0, true},  {32767, true}, {32762, true},
                          {32761, false}, {4, false}, {100, false},  {32760, false}};
    for (const Case& c : cases) {
        const std::vector<std::string> reply = r.Handle("get " + std::to_string(c.index), 0.0);
        EXPECT_EQ(reply.front(), "OK");
        EXPECT_EQ(reply.back(), "");
        ASSERT_EQ(reply.size(), c.stored ? 3u : 2u) << c.index;
        if (!c.stored) continue;
        const std::vector<std::string> t = Words(reply[1]);
        ASSERT_EQ(t.size(), 6u) << reply[1];
        EXPECT_EQ(t[3], "1234");
        EXPECT_EQ(t[4], std::to_string(c.index));
        EXPECT_TRUE(ChecksumHolds(reply[1])) << reply[1];
    }
}

TEST(Recorder, Get2WalksDownNewestFirstAndStopsAtTheTail) {
    Recorder r(Config(10, 3));  // records at 32762..32767, 0..3
    struct Case {
        const char* command;
        std::vector<int> indices;
    };
    const Case cases[] = {
        {"get2 3 -4", {3, 2, 1, 0}},
        {"get2 1 -4", {1, 0, 32767, 32766}},
        {"get2 3 -100", {3, 2, 1, 0, 32767, 32766, 32765, 32764, 32763, 32762}},
        {"get2 32763 -100", {32763, 32762}},
        {"get2 32762 -1", {32762}},
        {"get2 32761 -100", {}},  // the tail itself
        {"get2 3 -0", {}},
        {"get2 6 -5", {3, 2}},  // starts above the head: the empty slots count as steps
    };
    for (const Case& c : cases) {
        const std::vector<std::string> reply = r.Handle(c.command, 0.0);
        ASSERT_GE(reply.size(), 2u) << c.command;
        EXPECT_EQ(reply.front(), "OK") << c.command;
        EXPECT_EQ(reply.back(), "");
        std::vector<int> indices;
        std::string previous_key = "9999";
        for (size_t i = 1; i + 1 < reply.size(); ++i) {
            const std::vector<std::string> t = Words(reply[i]);
            ASSERT_EQ(t.size(), 6u) << reply[i];
            EXPECT_TRUE(ChecksumHolds(reply[i])) << reply[i];
            indices.push_back(std::atoi(t[4].c_str()));
            const std::string key = t[0] + " " + t[1];
            EXPECT_LT(key, previous_key) << "not newest first: " << c.command;
            previous_key = key;
        }
        EXPECT_EQ(indices, c.indices) << c.command;
    }
}

TEST(Recorder, Get2AnswersAtMostTheDevicesBatch) {
    RecorderConfig config = Config(10, 3);
    config.max_batch = 3;
    Recorder r(config);
    const std::vector<std::string> reply = r.Handle("get2 1 -100", 0.0);
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(Words(reply[1])[4], "1");
    EXPECT_EQ(Words(reply[3])[4], "32767");
    EXPECT_EQ(r.Handle("get2 3 -2", 0.0).size(), 4u);
}

TEST(Recorder, RecordsAreSpacedAndEndNearTheClock) {
    Recorder r(Config(300));
    const std::vector<std::string> reply = r.Handle("get2 300 -100", 0.0);
    ASSERT_EQ(reply.size(), 102u);
    int64_t previous = -1;
    for (size_t i = 1; i + 1 < reply.size(); ++i) {
        const std::vector<std::string> t = Words(reply[i]);
        const int64_t time = *ParseDeviceTime(t[0] + " " + t[1]);
        if (previous >= 0) {
            EXPECT_EQ(previous - time, kRecordInterval);
        }
        previous = time;
    }
    const int64_t newest = *ParseDeviceTime(Words(reply[1])[0] + " " + Words(reply[1])[1]);
    const int64_t clock = *ParseDeviceTime(kClock);
    EXPECT_LT(newest, clock);
    EXPECT_GE(newest, clock - kRecordInterval);
}

TEST(Recorder, ValuesFollowAWinchProfileAndDependOnlyOnTheSeed) {
    RecorderConfig a = Config(600), b = Config(600), c = Config(600);
    c.seed = 99;
    Recorder ra(a), rb(b), rc(c);
    int stops = 0, moving = 0;
    bool differs = false;
    for (int i = 1; i <= 600; ++i) {
        const std::string line = ra.RecordText(i);
        EXPECT_EQ(line, rb.RecordText(i));
        if (line != rc.RecordText(i)) differs = true;
        const std::string token = Words(line)[2];
        ASSERT_EQ(token.find_first_not_of("0123456789"), std::string::npos) << line;
        const int value = std::atoi(token.c_str());
        EXPECT_LE(value, 700);
        (value == 0 ? stops : moving)++;
    }
    EXPECT_TRUE(differs);
    EXPECT_GT(stops, 20);
    EXPECT_GT(moving, 300);
}

TEST(Recorder, ProtocolZeroSendsNoChecksum) {
    Recorder r(Config(5, -1, 0));
    EXPECT_EQ(Words(r.Handle("info", 0)[1])[1], "0");
    const std::vector<std::string> reply = r.Handle("get 5", 0);
    ASSERT_EQ(reply.size(), 3u);
    EXPECT_EQ(Words(reply[1]).size(), 5u) << reply[1];
    EXPECT_EQ(reply[1], r.RecordText(5));
}

TEST(Recorder, InformationChecksumIsOptional) {
    RecorderConfig config = Config(5, -1, 1);
    config.info_crc = true;
    Recorder r(config);
    const std::string line = r.Handle("info", 0)[1];
    EXPECT_EQ(Words(line).size(), 9u);
    EXPECT_TRUE(ChecksumHolds(line)) << line;
}

TEST(Recorder, AddedRecordsFollowTheNewestAndLeaveTheOthersAlone) {
    Recorder r(Config(100));
    const std::string old = r.RecordText(50);
    const std::string newest = r.Handle("get 100", 0)[1];
    r.AddRecords(5);
    EXPECT_EQ(r.head(), 105);
    EXPECT_EQ(r.tail(), 0);
    EXPECT_EQ(r.RecordText(50), old);
    const std::vector<std::string> reply = r.Handle("get2 105 -6", 0);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(reply[6], newest);
    EXPECT_GT(Words(reply[1])[0] + Words(reply[1])[1], Words(newest)[0] + Words(newest)[1]);
}

TEST(Recorder, FullRingDropsTheOldest) {
    Recorder r(Config(32767, 32767));
    EXPECT_EQ(r.tail(), 0);
    const std::string second_oldest = r.RecordText(2);
    r.AddRecords(3);
    EXPECT_EQ(r.count(), 32767);
    EXPECT_EQ(r.head(), 2);
    EXPECT_EQ(r.tail(), 3);
    EXPECT_FALSE(r.HasRecord(3));
    EXPECT_TRUE(r.HasRecord(4));
    EXPECT_NE(r.RecordText(2), second_oldest);  // slot 2 was reused by a new record
    const std::vector<std::string> reply = r.Handle("get2 2 -100", 0);
    EXPECT_EQ(Words(reply[3])[4], "0");
    EXPECT_EQ(Words(reply[4])[4], "32767");
}

TEST(Recorder, RefusesWhatItDoesNotKnow) {
    Recorder r(Config(5));
    for (const char* command :
         {"bogus", "INFO", "info now", "get", "get x", "get -1", "get 32768", "get 1 2", "get2 5",
          "get2 5 -x", "get2 99999 -1", "get3 5 -1", "time2 2024-01-01 00:00:00"}) {
        const std::vector<std::string> reply = r.Handle(command, 0.0);
        ASSERT_EQ(reply.size(), 2u) << command;
        EXPECT_NE(reply[0].substr(0, 2), "OK") << command;
        EXPECT_FALSE(reply[0].empty()) << command;
        EXPECT_EQ(reply[1], "");
    }
    EXPECT_TRUE(r.Handle("", 0).empty());
    EXPECT_TRUE(r.Handle("  \r", 0).empty());
    EXPECT_EQ(r.Handle("info\r", 0), r.Handle("info", 0));
    EXPECT_EQ(r.Handle("get 5\r", 0), r.Handle("get 5", 0));
}

TEST(Recorder, CorruptsTheChosenShareOfChecksumsReproducibly) {
    RecorderConfig config = Config(1000);
    config.corrupt_crc = 0.3;
    Recorder a(config), b(config);
    int bad = 0;
    for (int start = 1000; start > 0; start -= 100) {
        const std::string command = "get2 " + std::to_string(start) + " -100";
        const std::vector<std::string> ra = a.Handle(command, 0), rb = b.Handle(command, 0);
        EXPECT_EQ(ra, rb);
        for (size_t i = 1; i + 1 < ra.size(); ++i) {
            // Only the suffix is touched; the record itself stays intact.
            EXPECT_EQ(ra[i].substr(0, ra[i].size() - 5), a.RecordText(std::atoi(Words(ra[i])[4].c_str())));
            if (!ChecksumHolds(ra[i])) ++bad;
        }
    }
    EXPECT_GT(bad, 200);
    EXPECT_LT(bad, 400);

    config.corrupt_crc = 1.0;
    Recorder all(config);
    const std::vector<std::string> reply = all.Handle("get2 1000 -50", 0);
    for (size_t i = 1; i + 1 < reply.size(); ++i) EXPECT_FALSE(ChecksumHolds(reply[i])) << reply[i];
}

TEST(FaultPlan, EncodesLineEnds) {
    FaultConfig lf, crlf;
    crlf.crlf = true;
    EXPECT_EQ(FaultPlan(lf).Encode({"OK", "a b", ""}), "OK\na b\n\n");
    EXPECT_EQ(FaultPlan(crlf).Encode({"OK", "a b", ""}), "OK\r\na b\r\n\r\n");
}

TEST(FaultPlan, StallsAndDropsAsConfigured) {
    FaultConfig after;
    after.stall_after = 2;
    FaultPlan plan(after);
    EXPECT_TRUE(plan.Answers());
    EXPECT_TRUE(plan.Answers());
    EXPECT_FALSE(plan.Answers());
    EXPECT_FALSE(plan.Answers());

    FaultConfig stall;
    stall.stall = true;
    FaultPlan stalled(stall);
    EXPECT_FALSE(stalled.Answers());
    stalled.SetStalled(false);
    EXPECT_TRUE(stalled.Answers());

    FaultConfig drop;
    drop.drop_replies = 0.5;
    FaultPlan a(drop), b(drop);
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        const bool answers = a.Answers();
        EXPECT_EQ(answers, b.Answers());
        answered += answers;
    }
    EXPECT_GT(answered, 60);
    EXPECT_LT(answered, 140);
}

TEST(FaultPlan, MixesInDeviceMessagesAndGarbage) {
    FaultConfig messages;
    messages.messages = 1.0;
    const std::string out = FaultPlan(messages).Encode({"OK", "x", ""});
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u) << out;
    for (size_t i = 0; i < lines.size(); i += 2) EXPECT_EQ(lines[i].front(), '#');
    EXPECT_EQ(lines[1], "OK");
    EXPECT_EQ(lines[3], "x");
    EXPECT_EQ(lines[5], "");

    FaultConfig garbage;
    garbage.overlong = 1.0;
    FaultPlan plan(garbage);
    std::set<bool> kinds;
    for (int i = 0; i < 20; ++i) {
        const std::string bytes = plan.Encode({"OK", ""});
        ASSERT_EQ(bytes.front(), '#');
        const std::string first = bytes.substr(0, bytes.find('\n'));
        EXPECT_EQ(bytes.substr(first.size()), "\nOK\n\n");
        const bool overlong = first.size() > 560;
        bool ascii = true;
        for (unsigned char ch : first) ascii = ascii && ch < 0x80;
        EXPECT_NE(overlong, !ascii) << "either overlong or not UTF-8";
        kinds.insert(overlong);
    }
    EXPECT_EQ(kinds.size(), 2u);
}

}  // namespace
}  // namespace korvel::sim
