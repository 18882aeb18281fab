// SPDX-License-Identifier: MIT
// korvel-sim as a process on a real pseudo-terminal, seen from a plain-termios client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/line_words.h"
#include "support/pty.h"
#include "support/sim_process.h"

namespace korvel::testing {
namespace {

bool ChecksumHolds(const std::string& line) { return HasChecksumSuffix(line); }

// A started simulator and a raw client on its terminal.
struct Session {
    SimProcess sim;
    UniqueFd fd;
    std::optional<TtyReader> reader;

    ::testing::AssertionResult Open(const std::vector<std::string>& args) {
        if (!sim.Start(args)) return ::testing::AssertionFailure() << sim.error();
        return Connect();
    }
    ::testing::AssertionResult Connect() {
        std::string error;
        fd = sim.Connect(&error);
        if (!fd) return ::testing::AssertionFailure() << error;
        reader.emplace(fd.get());
        return ::testing::AssertionSuccess();
    }
    std::optional<std::vector<std::string>> Ask(const std::string& command) {
        return Exchange(fd.get(), *reader, command);
    }
};

TEST(SimProcess, AnswersInfoOnItsPseudoTerminal) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "250", "--clock", "2024-03-05 07:08:09", "--product", "0815"}));
    ASSERT_TRUE(WriteAll(s.fd.get(), "info\n"));
    std::optional<std::string> first = s.reader->ReadLine();
    ASSERT_TRUE(first) << "no reply";
    EXPECT_EQ(*first, "OK");
    std::optional<std::string> info = s.reader->ReadLine();
    ASSERT_TRUE(info);
    const std::vector<std::string> t = Words(*info);
    ASSERT_EQ(t.size(), 8u) << *info;
    EXPECT_EQ(t[1], "2");
    EXPECT_EQ(t[3], "0815");
    EXPECT_EQ(t[4], "251");
    EXPECT_EQ(t[5], "1");
    EXPECT_EQ(t[6], "2024-03-05");
    EXPECT_EQ(s.reader->ReadLine(), std::optional<std::string>(""));

    ASSERT_TRUE(s.sim.WaitForRequests(1));
    EXPECT_EQ(s.sim.Requests(), std::vector<std::string>{"info"});
}

TEST(SimProcess, OptionsShapeTheInformationLine) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;  // tokens 1 to 6
    };
    const std::vector<Case> cases = {
        {{}, "KVR 2 V3.1 1234 3001 1"},
        {{"--records", "100", "--wrap"}, "KVR 2 V3.1 1234 51 32719"},
        {{"--records", "5", "--head", "2"}, "KVR 2 V3.1 1234 3 32766"},
        {{"--records", "0", "--protocol", "0", "--firmware", "AB CD", "--product", "77"}, "AB 0 CD 77 1 1"},
        {{"--records", "32767", "--head", "32767", "--protocol=1"}, "KVR 1 V3.1 1234 32768 1"},
    };
    for (const Case& c : cases) {
        Session s;
        ASSERT_TRUE(s.Open(c.args));
        std::optional<std::vector<std::string>> reply = s.Ask("info");
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->size(), 2u);
        const std::vector<std::string> t = Words(reply->at(1));
        ASSERT_EQ(t.size(), 8u) << reply->at(1);
        EXPECT_EQ(t[0] + " " + t[1] + " " + t[2] + " " + t[3] + " " + t[4] + " " + t[5], c.expected);
    }
}

TEST(SimProcess, LogsEveryCommandWithItsTime) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "20"}));
    const std::vector<std::string> commands = {"info", "get2 20 -5", "get 3", "time 2024-01-02 03:04:05",
                                               "nonsense"};
    for (const std::string& c : commands) ASSERT_TRUE(s.Ask(c)) << c;
    ASSERT_TRUE(s.sim.WaitForRequests(commands.size()));
    EXPECT_EQ(s.sim.Requests(), commands);

    std::ifstream log(s.sim.log_path());
    double previous = 0;
    for (std::string line; std::getline(log, line);) {
        const double stamp = std::atof(line.c_str());
        EXPECT_GE(stamp, previous) << line;
        previous = stamp;
    }
}

TEST(SimProcess, SurvivesTheClientClosingAndReopening) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10"}));
    ASSERT_TRUE(s.Ask("info"));
    for (int round = 0; round < 3; ++round) {
        s.reader.reset();
        s.fd.reset();
        ASSERT_TRUE(s.Connect());
        std::optional<std::vector<std::string>> reply = s.Ask("get 10");
        ASSERT_TRUE(reply) << "round " << round;
        ASSERT_EQ(reply->size(), 2u);
        EXPECT_EQ(Words((*reply)[1])[4], "10");
    }
    EXPECT_TRUE(s.sim.running());
}

TEST(SimProcess, ForgetsExclusiveModeWhenTheClientCloses) {
    // A real port drops TIOCEXCL at its last close; without help a pty keeps it and locks the
    // client out of its own reopen (unless it runs as root).
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10"}));
    ASSERT_EQ(ioctl(s.fd.get(), TIOCEXCL), 0);
    s.reader.reset();
    s.fd.reset();
    ASSERT_TRUE(s.sim.Control("status"));  // answered only after the close was handled
    ASSERT_TRUE(s.Connect());
    int exclusive = -1;
    ASSERT_EQ(ioctl(s.fd.get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_TRUE(s.Ask("info"));
}

TEST(SimProcess, AddsRecordsOnRequest) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "100", "--protocol", "1"}));
    ASSERT_TRUE(s.sim.AddRecords(5));
    std::optional<std::vector<std::string>> reply = s.Ask("info");
    ASSERT_TRUE(reply);
    EXPECT_EQ(Words((*reply)[1])[4], "106");
    reply = s.Ask("get 105");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 2u);
    EXPECT_TRUE(ChecksumHolds((*reply)[1])) << (*reply)[1];

    std::optional<std::string> status = s.sim.Control("status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("head=105 tail=0 count=105"), std::string::npos) << *status;
    std::optional<std::string> bad = s.sim.Control("add many");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->rfind("error", 0), 0u) << *bad;
}

TEST(SimProcess, TakesControlCommandsFromAFifo) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "7"})) << sim.error();
    const std::string fifo = sim.dir() + "/control";
    SimProcess with_fifo;
    ASSERT_TRUE(with_fifo.Start({"--records", "7", "--control", fifo})) << with_fifo.error();
    struct stat st {};
    ASSERT_EQ(stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    {
        std::ofstream control(fifo);
        control << "add 2\n";
    }
    std::optional<std::string> ack = with_fifo.WaitForEvent("ok add");
    ASSERT_TRUE(ack);
    EXPECT_NE(ack->find("head=9"), std::string::npos) << *ack;
    EXPECT_EQ(with_fifo.Stop(), 0);
    EXPECT_NE(stat(fifo.c_str(), &st), 0) << "the FIFO it created stays behind";
}

TEST(SimProcess, KeepsServingWhenNobodyReadsItsStdout) {
    SimProcess sim;  // lends its private folder for the FIFO
    ASSERT_TRUE(sim.Start({"--records", "7"})) << sim.error();
    const std::string fifo = sim.dir() + "/control";
    SimProcess quiet;
    ASSERT_TRUE(quiet.Start({"--records", "7", "--control", fifo})) << quiet.error();
    {
        // Far more answers than a pipe holds, none of them read.
        std::ofstream control(fifo);
        for (int i = 0; i < 3000; ++i) control << "status\n";
    }
    std::string error;
    UniqueFd fd = quiet.Connect(&error);
    ASSERT_TRUE(fd) << error;
    TtyReader reader(fd.get());
    std::optional<std::vector<std::string>> reply = Exchange(fd.get(), reader, "get 7");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 2u);
}

TEST(SimProcess, StopsCleanlyAndRemovesItsLink) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    char target[256] = {};
    ASSERT_GT(readlink(sim.link_path().c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(sim.pty_path(), target);
    EXPECT_EQ(sim.Stop(), 0);
    EXPECT_FALSE(sim.running());
    struct stat st {};
    EXPECT_NE(lstat(sim.link_path().c_str(), &st), 0);
}

TEST(SimProcess, ADeadSimulatorFailsQuietly) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    ASSERT_EQ(kill(sim.pid(), SIGKILL), 0);
    EXPECT_FALSE(sim.Control("status"));  // and no SIGPIPE takes the test down
    EXPECT_FALSE(sim.Control("add 1"));
    EXPECT_FALSE(sim.WaitForRequests(1, std::chrono::milliseconds(10)));
    EXPECT_EQ(sim.Stop(), -1);
}

TEST(SimProcess, RefusesBadOptions) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--records", "40000"},
                                               {"--protocol", "x"},
                                               {"--clock", "2024-02-30 00:00:00"},
                                               {"--bogus"},
                                               {"--corrupt-crc", "2"},
                                               {"--firmware", "ONEWORD"}}) {
        SimProcess sim;
        EXPECT_FALSE(sim.Start(args)) << args[0];
        EXPECT_FALSE(sim.running());
    }
}

TEST(SimProcess, RunsOnAGivenTerminal) {
    PtyPair pair;
    ASSERT_GE(pair.master, 0);
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--tty", pair.slave_path, "--records", "3"})) << sim.error();
    EXPECT_EQ(sim.pty_path(), pair.slave_path);
    TtyReader reader(pair.master);
    std::optional<std::vector<std::string>> reply = Exchange(pair.master, reader, "get2 3 -10");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 4u);
}

// Faults.

TEST(SimFaults, CorruptChecksumsFailTheCheck) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "50", "--corrupt-crc", "1"}));
    std::optional<std::vector<std::string>> reply = s.Ask("get2 50 -20");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 21u);
    for (size_t i = 1; i < reply->size(); ++i) EXPECT_FALSE(ChecksumHolds((*reply)[i])) << (*reply)[i];
}

TEST(SimFaults, ChunkedAndPacedOutputArrivesWhole) {
    // One device clock for all three, so their records carry the same times.
    const std::string clock = "2024-03-05 07:08:09";
    Session plain, chunked, paced;
    ASSERT_TRUE(plain.Open({"--records", "60", "--clock", clock}));
    ASSERT_TRUE(
        chunked.Open({"--records", "60", "--clock", clock, "--chunk", "64", "--chunk-gap-us", "10000"}));
    ASSERT_TRUE(paced.Open({"--records", "60", "--clock", clock, "--baud", "460800"}));
    const std::optional<std::vector<std::string>> expected = plain.Ask("get2 60 -30");
    ASSERT_TRUE(expected);
    EXPECT_EQ(chunked.Ask("get2 60 -30"), expected);
    EXPECT_EQ(paced.Ask("get2 60 -30"), expected);
    // A reply of well over 1000 bytes in 64-byte chunks 10 ms apart does not come in one read.
    EXPECT_GT(chunked.reader->reads(), 1u);
}

TEST(SimFaults, CrLfLineEnds) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "5", "--crlf"}));
    ASSERT_TRUE(WriteAll(s.fd.get(), "get 5\r\n"));
    EXPECT_EQ(s.reader->ReadLine(kIoTimeout, true), std::optional<std::string>("OK\r"));
    std::optional<std::string> record = s.reader->ReadLine(kIoTimeout, true);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->back(), '\r');
    EXPECT_EQ(s.reader->ReadLine(kIoTimeout, true), std::optional<std::string>("\r"));
}

TEST(SimFaults, DeviceMessagesAreInterleaved) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "5", "--messages", "1"}));
    std::optional<std::vector<std::string>> reply = s.Ask("get2 5 -5");
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->size(), 6u);
    EXPECT_EQ(s.reader->messages().size(), 7u);  // one before every line, the closing one included
}

TEST(SimFaults, StallAfterAnsweringSomeCommands) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10", "--stall-after", "1"}));
    std::optional<std::vector<std::string>> reply = s.Ask("info");
    ASSERT_TRUE(reply);
    const size_t reply_bytes = (*reply)[0].size() + (*reply)[1].size() + 3;
    ASSERT_TRUE(WriteAll(s.fd.get(), "get 5\n"));
    ASSERT_TRUE(s.sim.WaitForRequests(2));
    // The device has taken the command in and queued nothing for it.
    std::optional<std::string> status = s.sim.Control("status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("commands=2 sent=" + std::to_string(reply_bytes) + " pending=0"),
              std::string::npos)
        << *status;
}

TEST(SimFaults, DroppedRepliesNeverGoOut) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10", "--drop-replies", "1"}));
    ASSERT_TRUE(WriteAll(s.fd.get(), "info\nget 5\n"));
    ASSERT_TRUE(s.sim.WaitForRequests(2));
    std::optional<std::string> status = s.sim.Control("status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("commands=2 sent=0 pending=0"), std::string::npos) << *status;
}

TEST(SimFaults, GarbageLinesComeBeforeTheReply) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10", "--overlong", "1", "--seed", "3"}));
    for (int i = 0; i < 6; ++i) {
        std::optional<std::vector<std::string>> reply = s.Ask("get 10");
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->size(), 2u);
    }
    ASSERT_EQ(s.reader->messages().size(), 6u);
    for (const std::string& garbage : s.reader->messages()) {
        bool ascii = true;
        for (unsigned char c : garbage) ascii = ascii && c < 0x80;
        EXPECT_TRUE(garbage.size() > 560 || !ascii) << garbage;
    }
}

TEST(SimFaults, ASlowDeviceHoldsItsReply) {
    Session slow, slower;
    ASSERT_TRUE(slow.Open({"--records", "10", "--reply-delay-ms", "20"}));
    ASSERT_TRUE(slower.Open({"--records", "10", "--reply-delay-ms", "600000"}));
    std::optional<std::vector<std::string>> reply = slow.Ask("get 7");
    ASSERT_TRUE(reply);
    EXPECT_EQ(Words(reply->at(1))[4], "7");

    ASSERT_TRUE(WriteAll(slower.fd.get(), "info\n"));
    ASSERT_TRUE(slower.sim.WaitForRequests(1));
    std::optional<std::string> status = slower.sim.Control("status");
    ASSERT_TRUE(status);
    EXPECT_NE(status->find("commands=1 sent=0 pending="), std::string::npos) << *status;
    EXPECT_EQ(status->find("pending=0"), std::string::npos) << *status;
}

TEST(SimFaults, StallAndResumeByControl) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10"}));
    ASSERT_TRUE(s.sim.Control("stall"));
    ASSERT_TRUE(WriteAll(s.fd.get(), "get 5\n"));
    ASSERT_TRUE(s.sim.WaitForRequests(1));
    ASSERT_TRUE(s.sim.Control("resume"));
    std::optional<std::vector<std::string>> reply = s.Ask("get 4");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 2u);
    EXPECT_EQ(Words((*reply)[1])[4], "4") << "the stalled command was answered after all";
}

TEST(SimFaults, HangUpIsSeenByTheClientAndAReplugOffersANewTerminal) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10", "--hangup-after", "10"}));
    ASSERT_TRUE(WriteAll(s.fd.get(), "get2 10 -10\n"));
    const std::string bytes = s.reader->ReadBytes(10);
    EXPECT_EQ(bytes.substr(0, 3), "OK\n");
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_TRUE(s.reader->WaitForHangup());
    EXPECT_EQ(s.sim.WaitForEvent("hangup"), std::optional<std::string>("hangup sent=10"));

    std::optional<std::string> replug = s.sim.Control("replug");
    ASSERT_TRUE(replug);
    EXPECT_EQ(*replug, "ok replug");
    char target[256] = {};
    ASSERT_GT(readlink(s.sim.link_path().c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(s.sim.pty_path(), target);
    s.reader.reset();
    s.fd.reset();
    ASSERT_TRUE(s.Connect());
    // The adapter is unplugged once; the replugged device goes on answering.
    std::optional<std::vector<std::string>> reply = s.Ask("get 10");
    ASSERT_TRUE(reply);
    EXPECT_EQ(Words(reply->at(1))[4], "10");
}

TEST(SimFaults, ReplugsByItselfAfterAPause) {
    Session s;
    ASSERT_TRUE(s.Open({"--records", "10", "--replug-after", "0"}));
    ASSERT_TRUE(s.sim.Control("hangup"));
    EXPECT_TRUE(s.reader->WaitForHangup());
    ASSERT_TRUE(s.sim.WaitForEvent("pty "));
    s.reader.reset();
    s.fd.reset();
    ASSERT_TRUE(s.Connect());
    std::optional<std::vector<std::string>> reply = s.Ask("info");
    ASSERT_TRUE(reply);
    EXPECT_EQ((*reply)[0], "OK");
}

}  // namespace
}  // namespace korvel::testing
