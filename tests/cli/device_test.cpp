// SPDX-License-Identifier: MIT
// korvel-cli against the simulated recorder on a pseudo-terminal; its files are compared with the
// engine's own download (engine_download.cpp, on the shared live rig). verify is in verify_test.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "cli_process.h"
#include "engine_download.h"
#include "support/pty.h"
#include "support/sim_process.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

// The file a download wrote: the last line of its output, which must be the only file in folder.
std::string WrittenFile(const ProcessResult& result, const std::string& folder) {
    const std::vector<std::string> out = Lines(result.out);
    EXPECT_EQ(out.size(), 2u) << result.out;
    EXPECT_EQ(ListFiles(folder).size(), 1u);
    if (out.size() != 2 || ListFiles(folder).size() != 1) return {};
    EXPECT_EQ(out[0].rfind("读取完成，耗时", 0), 0u) << out[0];
    EXPECT_EQ(out[1], folder + "/" + ListFiles(folder)[0]);
    return out[1];
}

// Moves the files of a folder into a subfolder, where the scan still finds them but a new download of
// the same second cannot replace them.
void Archive(const std::string& folder) {
    fs::create_directory(folder + "/earlier");
    for (const std::string& name : ListFiles(folder))
        fs::rename(folder + "/" + name, folder + "/earlier/" + name);
}

class CliDownload : public ::testing::TestWithParam<int> {};

TEST_P(CliDownload, FullThenIncrementalFilesAreTheEnginesByteForByte) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "250", "--protocol", std::to_string(GetParam()), "--product", "0123",
                           "--clock", "2024-03-05 07:08:09"}))
        << sim.error();
    TempDir cli_dir;
    TempDir engine_dir;

    const ProcessResult full = RunCli({"download", "--port", sim.pty_path(), "--dir", cli_dir.path()});
    ASSERT_EQ(full.exit_code, 0) << full.err;
    EXPECT_TRUE(full.err.empty()) << full.err;  // progress only goes to a terminal
    const std::string cli_full = WrittenFile(full, cli_dir.path());
    ASSERT_FALSE(cli_full.empty());
    EXPECT_NE(cli_full.find("-123-7b.txt"), std::string::npos);
    const std::string engine_full = EngineDownload(sim.pty_path(), engine_dir.path());
    ASSERT_FALSE(engine_full.empty());
    const std::string full_bytes = ReadFile(cli_full);
    EXPECT_EQ(Lines(full_bytes).size(), 250u);
    EXPECT_EQ(full_bytes, ReadFile(engine_full));

    Archive(cli_dir.path());
    Archive(engine_dir.path());
    ASSERT_TRUE(sim.AddRecords(7));
    const ProcessResult more = RunCli({"download", "--port", sim.pty_path(), "--dir", cli_dir.path()});
    ASSERT_EQ(more.exit_code, 0) << more.err;
    const std::string cli_more = WrittenFile(more, cli_dir.path());
    const std::string engine_more = EngineDownload(sim.pty_path(), engine_dir.path());
    ASSERT_FALSE(cli_more.empty());
    ASSERT_FALSE(engine_more.empty());
    // The newest record saved before, then the seven new ones.
    const std::vector<std::string> lines = Lines(ReadFile(cli_more));
    ASSERT_EQ(lines.size(), 8u);
    EXPECT_EQ(lines.front(), Lines(full_bytes).back());
    EXPECT_EQ(ReadFile(cli_more), ReadFile(engine_more));

    const ProcessResult verified = RunCli({"verify", cli_dir.path()});
    EXPECT_EQ(verified.exit_code, 0) << verified.out;
    EXPECT_NE(verified.out.find("2 files, 258 lines checked: no problems"), std::string::npos)
        << verified.out;
}

INSTANTIATE_TEST_SUITE_P(Protocols, CliDownload, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& param_info) {
                             return "Protocol" + std::to_string(param_info.param);
                         });

TEST(CliDownloadEdges, DeviceWithoutRecordsGetsNoFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "0"})) << sim.error();
    TempDir dir;
    const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("no records"), std::string::npos) << result.out;
    EXPECT_TRUE(ListFiles(dir.path()).empty());
}

TEST(CliDownloadEdges, ProgressIsOneUpdatingLineOnATerminal) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "450", "--protocol", "2"})) << sim.error();
    TempDir dir;
    const ProcessResult result = RunProcess(
        {CliPath(), "download", "--port", sim.pty_path(), "--dir", dir.path()}, /*stderr_terminal=*/true);
    EXPECT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.err.find("\r\x1b[K22.2% (100 of 450 records)"), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find('\n'), std::string::npos) << result.err;
    EXPECT_EQ(Lines(result.out).size(), 2u) << result.out;
}

TEST(CliNoAnswer, SilentDeviceGivesUpAfterTheRetriesWithoutAFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--stall"})) << sim.error();
    TempDir dir;
    const ProcessResult result =
        RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path(), "--retries", "1"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("did not answer \"info\" (asked 2 times)"), std::string::npos) << result.err;
    EXPECT_EQ(sim.Requests(), (std::vector<std::string>{"info", "info"}));
    EXPECT_TRUE(ListFiles(dir.path()).empty());
}

TEST(CliNoAnswer, DeviceThatFallsSilentMidWalkIsAskedRetriesMoreTimes) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "1000", "--protocol", "2", "--stall-after", "2"})) << sim.error();
    TempDir dir;
    const ProcessResult result =
        RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path(), "--retries", "1"});
    EXPECT_EQ(result.exit_code, 1);
    EXPECT_NE(result.err.find("stopped answering: \"get2 900 -100\" was repeated 1 time"), std::string::npos)
        << result.err;
    const std::vector<std::string> requests = sim.Requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[2], requests[3]);
    EXPECT_TRUE(ListFiles(dir.path()).empty());
}

TEST(CliInfo, JsonHasEveryKeyWithNumbersAsNumbers) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start(
        {"--records", "100", "--protocol", "2", "--product", "0123", "--clock", "2024-03-05 07:08:09"}))
        << sim.error();
    const ProcessResult result = RunCli({"info", "--port", sim.pty_path(), "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const nlohmann::json info = nlohmann::json::parse(result.out);
    EXPECT_EQ(info.size(), 9u);
    EXPECT_EQ(info.at("product"), "0123");
    EXPECT_EQ(info.at("firmware"), "KVR 2 V3.1");
    EXPECT_EQ(info.at("protocol"), 2);
    EXPECT_EQ(info.at("records"), 100);
    EXPECT_DOUBLE_EQ(info.at("hours").get<double>(), 3.4);
    EXPECT_TRUE(info.at("head_index").is_number_integer());
    EXPECT_EQ((info.at("head_index").get<int>() - info.at("tail_index").get<int>() + 0x8000) % 0x8000, 100);
    EXPECT_EQ(info.at("device_time").get<std::string>().substr(0, 13), "2024-03-05 07");
    EXPECT_TRUE(std::regex_match(info.at("pc_time").get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")));
}

TEST(CliInfo, KeyValueLinesAsTheDialogShowsThem) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "100", "--product", "0123"})) << sim.error();
    const ProcessResult result = RunCli({"info", "--port", sim.pty_path()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    const std::vector<std::string> keys = {"product",    "firmware",   "protocol",    "records",
                                           "head index", "tail index", "device time", "pc time"};
    ASSERT_EQ(lines.size(), keys.size()) << result.out;
    for (size_t i = 0; i < keys.size(); ++i) EXPECT_EQ(lines[i].rfind(keys[i] + ": ", 0), 0u) << lines[i];
    EXPECT_EQ(lines[0], "product: 0123");
    EXPECT_EQ(lines[3], "records: 100 (3.4小时)");
}

TEST(CliInfo, DeviceTextReachesTheTerminalEscaped) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--product", "\x1b]0;pwned\x07", "--messages", "1"})) << sim.error();
    const ProcessResult result = RunCli({"info", "--port", sim.pty_path()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_NE(result.out.find("product: \\x1b]0;pwned\\x07\n"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos);
    // Device messages are shown as they come, on stderr.
    EXPECT_NE(result.err.find("korvel-cli: device: "), std::string::npos) << result.err;
}

TEST(CliInfo, TakesEveryRateOfTheDialogsList) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    for (const char* rate : {"300", "57600", "1000000", "4000000"}) {
        const ProcessResult result = RunCli({"info", "--port", sim.pty_path(), "--baud", rate, "--json"});
        EXPECT_EQ(result.exit_code, 0) << rate << ": " << result.err;
    }
    EXPECT_EQ(sim.Requests().size(), 4u);
}

TEST(CliSyncTime, SendsThePcClockAndWaitsForTheReply) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--clock", "2001-01-01 00:00:00"})) << sim.error();
    const ProcessResult result = RunCli({"sync-time", "--port", sim.pty_path()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> requests = sim.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_TRUE(std::regex_match(requests[0], std::regex(R"(time \d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << requests[0];
    EXPECT_EQ(result.out, "sent: " + requests[0] + "\n");
}

TEST(CliPort, PortsListsDevicePathsOnly) {
    const ProcessResult result = RunCli({"ports"});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    for (const std::string& line : Lines(result.out)) EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
}

TEST(CliPort, AbsentPathSaysAbsent) {
    TempDir dir;
    const ProcessResult result = RunCli({"info", "--port", dir / "ttyUSB9"});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(result.err.find("(absent)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(dir / "ttyUSB9"), std::string::npos) << result.err;
}

TEST(CliPort, BusyPortNamesItsHolder) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    UniqueFd held = sim.Connect();
    ASSERT_TRUE(held.valid());
    ASSERT_EQ(flock(held.get(), LOCK_EX | LOCK_NB), 0);
    ChildProcess cli({CliPath(), "info", "--port", sim.pty_path()});
    const ProcessResult result = cli.Wait();
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(result.err.find("(busy)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(" " + std::to_string(getpid()) + " ("), std::string::npos) << result.err;
    // Its own attempt is no holder.
    EXPECT_EQ(result.err.find(" " + std::to_string(cli.Pid()) + " ("), std::string::npos) << result.err;
    EXPECT_TRUE(sim.Requests().empty());
}

TEST(CliPort, LostDuringDownloadStopsAtOnceWithoutAFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "3000", "--protocol", "1", "--hangup-after", "2000"})) << sim.error();
    TempDir dir;
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", dir.path()});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(result.err.find("port lost"), std::string::npos) << result.err;
    EXPECT_TRUE(ListFiles(dir.path()).empty());
    // Not a speed test: a command that waited for the reply timeout instead would take three seconds.
    EXPECT_LT(elapsed, std::chrono::milliseconds(2900));
}

TEST(CliPort, LostDuringTheInformationRequest) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--hangup-after", "5"})) << sim.error();
    const ProcessResult result = RunCli({"info", "--port", sim.pty_path()});
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_NE(
        result.err.find("port lost: " + sim.pty_path() + " was unplugged or hung up during the information"),
        std::string::npos)
        << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
}

TEST(CliPort, PermissionDeniedNamesTheGroupAndTheFix) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the command as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv";
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    ASSERT_EQ(chmod(sim.pty_path().c_str(), 0600), 0);
    struct stat st {};
    ASSERT_EQ(stat(sim.pty_path().c_str(), &st), 0);
    const ProcessResult result = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", CliPath(), "info", "--port", sim.pty_path()});
    if (result.exit_code == 127) GTEST_SKIP() << "the program is out of reach for user nobody";
    EXPECT_EQ(result.exit_code, 3) << result.err;
    EXPECT_NE(result.err.find("(permission denied)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("add yourself to group"), std::string::npos) << result.err;
}

TEST(CliDownloadEdges, InterruptCancelsTheWalkWithoutAFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "150", "--protocol", "1", "--baud", "19200"})) << sim.error();
    TempDir dir;
    ChildProcess cli({CliPath(), "download", "--port", sim.pty_path(), "--dir", dir.path()});
    ASSERT_TRUE(sim.WaitForRequests(3));
    ASSERT_EQ(kill(cli.Pid(), SIGINT), 0);
    const ProcessResult result = cli.Wait();
    EXPECT_EQ(result.exit_code, 130) << result.err;
    EXPECT_NE(result.err.find("interrupted; no record file was written"), std::string::npos) << result.err;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(CliFolder, UnwritableFolderFailsBeforeTheDeviceIsAsked) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start()) << sim.error();
    TempDir dir;
    WriteFile(dir / "plain-file", "");
    for (const std::string& folder : {dir / "plain-file", dir / "missing"}) {
        const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", folder});
        EXPECT_EQ(result.exit_code, 4) << result.err;
        EXPECT_NE(result.err.find("cannot write record files to " + folder), std::string::npos) << result.err;
    }
    EXPECT_TRUE(sim.Requests().empty());
    EXPECT_EQ(ListFiles(dir.path()), std::vector<std::string>{"plain-file"});
}

TEST(CliFolder, FolderGoneBeforeTheEndIsExitFourWithNothingLeft) {
    // Paced so that the walk is still running when the folder goes.
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "150", "--protocol", "1", "--baud", "19200"})) << sim.error();
    TempDir dir;
    fs::create_directory(dir / "upload");
    ChildProcess cli({CliPath(), "download", "--port", sim.pty_path(), "--dir", dir / "upload"});
    ASSERT_TRUE(sim.WaitForRequests(3));
    fs::rename(dir / "upload", dir / "moved");
    const ProcessResult result = cli.Wait();
    EXPECT_EQ(result.exit_code, 4) << result.err;
    EXPECT_NE(result.err.find("保存失败："), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(": No such file or directory;"), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty()) << result.out;
    EXPECT_TRUE(fs::is_empty(dir / "moved"));
}

// A full file system is found out before the walk, not after it.
TEST(CliFolder, NotEnoughFreeSpaceFailsBeforeTheWalk) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "2000"})) << sim.error();
    TempDir dir;
    // A small file system of its own, in a mount namespace of its own (needs the right to mount).
    const std::string script = "mount -t tmpfs -o size=64k korvel-full '" + dir.path() +
                               "' || exit 99; exec '" + CliPath() + "' download --port '" + sim.pty_path() +
                               "' --dir '" + dir.path() + "'";
    const ProcessResult result = RunProcess({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script});
    if (result.exit_code == 99 || UnshareRefused(result))
        GTEST_SKIP() << "cannot mount a small file system here: " << result.err;
    EXPECT_EQ(result.exit_code, 4) << result.err;
    EXPECT_NE(
        result.err.find("not enough free space in " + dir.path() + ": the 2000 records need about 125 KiB"),
        std::string::npos)
        << result.err;
    EXPECT_EQ(sim.Requests(), std::vector<std::string>{"info"});
}

// A device played by the test on a pseudo-terminal: each command line gets the reply that answer gives.
ProcessResult RunAgainst(const std::vector<std::string>& args,
                         const std::function<std::string(const std::string&)>& answer) {
    PtyPair pty;
    if (pty.master < 0) return {};
    std::vector<std::string> argv = {CliPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.insert(argv.end(), {"--port", pty.slave_path});
    ChildProcess cli(argv);
    std::atomic<bool> done{false};
    std::thread device([&] {
        TtyReader reader(pty.master);
        while (!done) {
            if (auto line = reader.ReadLine(std::chrono::milliseconds(100)))
                WriteAll(pty.master, answer(*line));
        }
    });
    ProcessResult result = cli.Wait();
    done = true;
    device.join();
    return result;
}

// A device that answers, but not as asked, is named as refusing, with the reason.
TEST(CliRefusal, EachReasonIsNamed) {
    std::string words32 = "A 1 B 1234 5 1 2024-03-05 07:08:09";
    for (int i = 9; i <= 32; ++i) words32 += " w";
    struct Case {
        std::string info_reply, get_reply, says;
    };
    const Case cases[] = {
        {"ERR busy\n\n", "", "refused \"info\": its reply did not begin with OK"},
        {"OK\nA 2 B 1234\n\n", "", "refused \"info\": its information line has fewer than 8 words"},
        {"OK\n" + words32 + " w\n\n", "",
         "refused \"info\": its information line has more than the 32 words"},
        {"OK\n" + words32 + " \n\n", "", "refused \"info\": its information line has more than the 32 words"},
        {"OK\n" + words32 + "\n\n", "ERR bad index\n\n",
         "refused \"get 4\": its reply did not begin with OK, also when repeated 0 times"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const ProcessResult result =
            RunAgainst({"download", "--dir", dir.path(), "--retries", "0"},
                       [&](const std::string& line) { return line == "info" ? c.info_reply : c.get_reply; });
        EXPECT_EQ(result.exit_code, 1) << result.err;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("stopped answering"), std::string::npos) << result.err;
    }
}

}  // namespace
}  // namespace korvel::testing
