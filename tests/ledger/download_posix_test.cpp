// SPDX-License-Identifier: MIT
// The ledger as korvel-cli download writes it, against simulated recorders on pseudo-terminals: two
// downloads into one folder that reach the ledger at the same moment, a download killed between saving
// its file and recording it, and a ledger that cannot be written.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/ledger_check.h"
#include "cli_process.h"
#include "ledger/ledger.h"
#include "support/sim_process.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

bool IsRecordFile(const std::string& name) { return ProductFromFileName(name).has_value(); }

// Waits until `count` record files stand in folder (their final names appear by a link or a rename).
bool AwaitRecordFiles(const std::string& folder, size_t count, int inotify_fd) {
    const auto have = [&] {
        size_t n = 0;
        for (const std::string& name : ListFiles(folder)) n += IsRecordFile(name) ? 1 : 0;
        return n >= count;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!have()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{inotify_fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) > 0) {
            char events[4096];
            [[maybe_unused]] const ssize_t ignored = ::read(inotify_fd, events, sizeof events);
        }
    }
    return true;
}

// Holds the folder's ledger locked as an appender does, so that downloads wait at its door.
class LedgerHeld {
  public:
    explicit LedgerHeld(const std::string& folder) {
        fd_ = ::open((folder + "/" + kLedgerFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ >= 0) held_ = ::flock(fd_, LOCK_EX) == 0;
    }
    ~LedgerHeld() { Release(); }
    bool held() const { return held_; }
    void Release() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_ = -1;
    bool held_ = false;
};

struct Watch {
    explicit Watch(const std::string& folder) {
        fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
        if (fd >= 0) ::inotify_add_watch(fd, folder.c_str(), IN_CREATE | IN_MOVED_TO);
    }
    ~Watch() {
        if (fd >= 0) ::close(fd);
    }
    int fd = -1;
};

TEST(LedgerDownload, TwoDownloadsThatFinishAtOnceEachGetTheirOwnEntry) {
    SimProcess first, second;
    ASSERT_TRUE(first.Start({"--records", "400", "--product", "0321"})) << first.error();
    ASSERT_TRUE(second.Start({"--records", "300", "--product", "0654"})) << second.error();
    TempDir folder;
    Watch watch(folder.path());
    ASSERT_GE(watch.fd, 0);
    // Both save their files while the ledger is held, then both reach for it when it is let go.
    LedgerHeld held(folder.path());
    ASSERT_TRUE(held.held());
    ChildProcess a({CliPath(), "download", "--port", first.pty_path(), "--dir", folder.path()});
    ChildProcess b({CliPath(), "download", "--port", second.pty_path(), "--dir", folder.path()});
    ASSERT_TRUE(AwaitRecordFiles(folder.path(), 2, watch.fd));
    held.Release();
    const ProcessResult ra = a.Wait(), rb = b.Wait();
    ASSERT_EQ(ra.exit_code, 0) << ra.err;
    ASSERT_EQ(rb.exit_code, 0) << rb.err;

    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    ASSERT_EQ(ledger.entries.size(), 2u);
    EXPECT_EQ(ledger.entries[0].sequence, 1u);
    EXPECT_EQ(ledger.entries[1].previous, ledger.entries[0].hash);
    std::vector<uint64_t> products = {ledger.entries[0].product, ledger.entries[1].product};
    std::sort(products.begin(), products.end());
    EXPECT_EQ(products, (std::vector<uint64_t>{321, 654}));
    LedgerCheck check;
    ASSERT_FALSE(CheckLedger(folder.path(), check));
    EXPECT_TRUE(check.AllProven());
    EXPECT_EQ(check.Count(LedgerFileState::Proven), 2u);
    const ProcessResult verify = RunCli({"verify", "--ledger", folder.path()});
    EXPECT_EQ(verify.exit_code, 0) << verify.out << verify.err;
}

TEST(LedgerDownload, ADownloadKilledBetweenSavingAndRecordingLeavesItsFileWholeAndUnrecorded) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "200", "--product", "0321"})) << sim.error();
    TempDir folder;
    Watch watch(folder.path());
    std::string saved;
    {
        LedgerHeld held(folder.path());
        ASSERT_TRUE(held.held());
        ChildProcess cli({CliPath(), "download", "--port", sim.pty_path(), "--dir", folder.path()});
        ASSERT_TRUE(AwaitRecordFiles(folder.path(), 1, watch.fd));
        ::kill(cli.Pid(), SIGKILL);
        EXPECT_EQ(cli.Wait().signal, SIGKILL);
    }
    for (const std::string& name : ListFiles(folder.path()))
        if (IsRecordFile(name)) saved = name;
    ASSERT_FALSE(saved.empty());

    // The next run: the file is unrecorded, every record in it is there.
    const ProcessResult verify = RunCli({"verify", "--ledger", folder.path()});
    EXPECT_EQ(verify.exit_code, 5);
    EXPECT_NE(verify.out.find("unrecorded: " + saved), std::string::npos) << verify.out;
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    EXPECT_EQ(archive.devices[0].records.size(), 200u);
    EXPECT_TRUE(archive.Complete());
    // And a later download is recorded as ever.
    ASSERT_TRUE(sim.AddRecords(5));
    const ProcessResult next = RunCli({"download", "--port", sim.pty_path(), "--dir", folder.path()});
    ASSERT_EQ(next.exit_code, 0) << next.err;
    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    ASSERT_EQ(ledger.entries.size(), 1u);
    EXPECT_EQ(ledger.entries[0].records, 6u);  // the five new and the one the download repeats
}

TEST(LedgerDownload, ALedgerThatCannotBeWrittenFailsTheDownloadAndKeepsTheFile) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "50", "--product", "0321"})) << sim.error();
    TempDir folder;
    fs::create_directory(folder / kLedgerFileName);  // no file can be written under its name
    const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", folder.path()});
    EXPECT_EQ(result.exit_code, 4);
    std::string saved;
    for (const std::string& name : ListFiles(folder.path()))
        if (IsRecordFile(name)) saved = name;
    ASSERT_FALSE(saved.empty());
    EXPECT_NE(result.err.find(folder.path() + "/" + saved + " was saved but not recorded in the ledger"),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("verify --ledger --adopt"), std::string::npos) << result.err;
    EXPECT_EQ(ReadArchive(folder.path()).devices.at(0).records.size(), 50u);
}

}  // namespace
}  // namespace korvel::testing
