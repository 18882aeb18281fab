// SPDX-License-Identifier: MIT
// korvel-cli against a device that damages or never ends its replies, after a clock set back, beside
// earlier files of the same second, and with folder names it cannot hold. The walk's own cases are in
// tests/records/walk_test.cpp; these show that nothing is lost end to end.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/sim_process.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

// The record file a download names as its last line of output.
std::string NamedFile(const ProcessResult& result) {
    const size_t end = result.out.find_last_not_of('\n');
    if (end == std::string::npos) return {};
    return result.out.substr(result.out.rfind('\n', end) + 1, end - result.out.rfind('\n', end));
}

TEST(CliFaultyDevice, DamagedLinesAreAskedAgainAndWhatIsSkippedIsNamed) {
    struct Case {
        const char* rate;
        int records;
        int exit_code;
    };
    for (const Case& c : {Case{"0.05", 2000, 0}, Case{"0.5", 300, 6}, Case{"1", 20, 1}}) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start({"--records", std::to_string(c.records), "--protocol", "2", "--corrupt-crc",
                               c.rate, "--seed", "3"}))
            << sim.error();
        TempDir dir;
        const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()});
        ASSERT_EQ(result.exit_code, c.exit_code) << c.rate << "\n" << result.err;
        const std::vector<std::string> files = ListFiles(dir.path());
        ASSERT_EQ(files.size(), 1u) << c.rate;
        const size_t lines = Lines(ReadFile(dir / files[0])).size();
        std::smatch skipped;
        if (c.exit_code == 0) {
            EXPECT_EQ(lines, static_cast<size_t>(c.records));
            EXPECT_EQ(RunCli({"verify", dir.path()}).exit_code, 0);
        } else if (c.exit_code == 6) {
            EXPECT_EQ(NamedFile(result), dir / files[0]);
            ASSERT_TRUE(std::regex_search(result.err, skipped,
                                          std::regex("(\\d+) records kept failing their checksum and were "
                                                     "skipped \\(indices [0-9, -]+\\)")))
                << result.err;
            EXPECT_EQ(lines + std::stoul(skipped[1]), static_cast<size_t>(c.records)) << result.err;
        } else {
            EXPECT_EQ(lines, 0u);
            EXPECT_NE(result.err.find("reported 20 records but none arrived"), std::string::npos)
                << result.err;
        }
    }
}

TEST(CliFaultyDevice, RecordsMadeAfterTheClockWasSetBackAreDownloaded) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "30", "--protocol", "2", "--clock", "2024-03-05 07:08:09"}))
        << sim.error();
    TempDir dir;
    ASSERT_EQ(RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()}).exit_code, 0);
    ASSERT_EQ(sim.Control("clock 2024-03-05 05:00:00").value_or("").substr(0, 2), "ok");
    ASSERT_TRUE(sim.AddRecords(6));
    const ProcessResult second = RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()});
    ASSERT_EQ(second.exit_code, 0) << second.err;
    // The newest record saved before, then the six made since.
    EXPECT_EQ(Lines(ReadFile(NamedFile(second))).size(), 7u);
}

TEST(CliFaultyDevice, EarlierFilesOfTheSameSecondAreKeptAndLeftoversOfAKilledRunGo) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "20", "--product", "0123"})) << sim.error();
    TempDir dir;
    // Files of this second and the next few, as two instances sharing the folder would leave them.
    std::vector<std::string> earlier;
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < 5; ++i) {
        const std::time_t t = now + i;
        std::tm tm{};
        ::localtime_r(&t, &tm);
        char name[64];
        std::strftime(name, sizeof name, "%y%m%d-%H%M%S-123-7b.txt", &tm);
        earlier.push_back(name[0] == '0' ? name + 1 : name);
        WriteFile(dir / earlier.back(), "");
    }
    WriteFile(dir / ".korvel-partial-killed00", "x");
    const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    for (const std::string& name : earlier) EXPECT_EQ(ReadFile(dir / name), "") << name;
    EXPECT_EQ(Lines(ReadFile(NamedFile(result))).size(), 20u);
    EXPECT_EQ(ListFiles(dir.path()).size(), earlier.size() + 1);
    EXPECT_FALSE(fs::exists(dir / ".korvel-partial-killed00"));
}

TEST(CliFaultyDevice, ADeviceThatNeverEndsItsReplyIsGivenUpWithFlatMemory) {
#ifdef KORVEL_SANITIZED
    // The sanitizers hold freed memory in quarantine (256 MB): the bound holds for the plain build.
    constexpr bool kMemoryIsMeasured = false;
#else
    constexpr bool kMemoryIsMeasured = true;
#endif
    struct Case {
        std::vector<std::string> sim, cli;
    };
    const Case cases[] = {
        {{"--endless-reply"}, {"info"}},
        {{"--endless-reply"}, {"sync-time"}},
        {{"--endless-reply", "--endless-after", "1"}, {"download", "--retries", "0"}},
        // One line at a time: every line would hold the reply's timeout off for ever.
        {{"--endless-reply", "--endless-after", "1", "--endless-gap-ms", "500"},
         {"download", "--retries", "0"}},
    };
    for (const Case& c : cases) {
        SimProcess sim;
        ASSERT_TRUE(sim.Start(c.sim)) << sim.error();
        TempDir dir;
        std::vector<std::string> args = c.cli;
        args.insert(args.end(), {"--port", sim.pty_path()});
        if (args[0] == "download") args.insert(args.end(), {"--dir", dir.path()});
        const ProcessResult result = RunCli(args);
        EXPECT_EQ(result.exit_code, 1) << args[0] << "\n" << result.err;
        if (kMemoryIsMeasured) {
            EXPECT_LT(result.max_rss_kb, 64 * 1024) << args[0];
        }
        EXPECT_TRUE(ListFiles(dir.path()).empty());
    }
}

TEST(CliFaultyDevice, FolderNamesThatAreNotUtf8AreRefusedAtOnce) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    TempDir dir;
    const std::string odd = dir / "caf\xe9";
    fs::create_directory(odd);
    const ProcessResult given = RunCli({"download", "--port", sim.pty_path(), "--dir", odd});
    EXPECT_EQ(given.exit_code, 2) << given.err;
    EXPECT_NE(given.err.find("caf\\xe9 is not named in UTF-8"), std::string::npos) << given.err;
    const ProcessResult home =
        RunProcess({"/usr/bin/env", "HOME=" + odd, CliPath(), "download", "--port", sim.pty_path()});
    EXPECT_EQ(home.exit_code, 4) << home.err;
    EXPECT_NE(home.err.find("choose a folder with --dir"), std::string::npos) << home.err;
    EXPECT_TRUE(sim.Requests().empty());
    EXPECT_TRUE(fs::is_empty(odd));
}

TEST(CliFaultyDevice, APipeGivenToVerifyIsRefusedNotWaitedOn) {
    TempDir dir;
    const std::string pipe = dir / "220730-102005-123-7b.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const ProcessResult result = RunCli({"verify", pipe});
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code, 5) << result.out;
    EXPECT_NE(result.out.find(pipe + ": cannot open: not a regular file"), std::string::npos) << result.out;
}

}  // namespace
}  // namespace korvel::testing
