// SPDX-License-Identifier: MIT
// korvel-cli verify --ledger, --adopt and the ledger's line in archive and report, as a script reads
// them. (POSIX: the tests' child-process runner.)
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli_process.h"
#include "ledger/ledger.h"
#include "support/record_lines.h"

namespace korvel::testing {
namespace {

const std::string kF1 = RecordFileName(0), kF2 = RecordFileName(3600), kAdded = RecordFileName(9000);

// Two downloads recorded, the second then shortened by a line, and a file copied in.
void TamperedFolder(const TempDir& dir) {
    dir.Write(kF1, RecordLines(0, 100));
    ASSERT_FALSE(AppendLedgerEntry(dir.path(), kF1, 123));
    dir.Write(kF2, RecordLines(100, 200));
    ASSERT_FALSE(AppendLedgerEntry(dir.path(), kF2, 123));
    dir.Write(kF2, RecordLines(100, 199));
    dir.Write(kAdded, RecordLines(300, 310));
}

TEST(VerifyLedgerCli, SaysPerDeviceWhatIsProvenAndExitsFiveOtherwise) {
    TempDir dir;
    TamperedFolder(dir);
    const ProcessResult result = RunCli({"verify", "--ledger", dir.path()});
    EXPECT_EQ(result.exit_code, 5) << result.err;
    const std::vector<std::string> lines = Lines(result.out);
    ASSERT_EQ(lines.size(), 5u) << result.out;
    EXPECT_EQ(lines[0], "ledger: " + dir.path() + "/korvel.ledger, 2 entries, chain intact");
    EXPECT_EQ(lines[1], "product 123: 1 file proven, 1 changed, 0 missing, 1 unrecorded");
    EXPECT_EQ(lines[2].rfind("  changed: " + kF2 + " (entry 2, recorded ", 0), 0u) << lines[2];
    const std::string recorded = std::to_string(RecordLines(100, 200).size()),
                      now = std::to_string(RecordLines(100, 199).size());
    EXPECT_NE(lines[2].find(": " + recorded + " bytes and 101 records recorded, " + now +
                            " bytes and 100 records now"),
              std::string::npos)
        << lines[2];
    EXPECT_EQ(lines[3].rfind("  unrecorded: " + kAdded + ": ", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4],
              "verdict: not proven: 1 file proven, 1 changed, 0 missing, 1 unrecorded; chain intact");

    // The file put back as recorded, the added one gone: all proven.
    dir.Write(kF2, RecordLines(100, 200));
    std::remove((dir / kAdded).c_str());
    const ProcessResult proven = RunCli({"verify", "--ledger", dir.path()});
    EXPECT_EQ(proven.exit_code, 0) << proven.out;
    EXPECT_EQ(Lines(proven.out).back(), "verdict: all proven (2 files), chain intact");
}

TEST(VerifyLedgerCli, AdoptRecordsTheUnrecordedOnceAndNeverTheChanged) {
    TempDir dir;
    TamperedFolder(dir);
    const ProcessResult adopt = RunCli({"verify", "--ledger", "--adopt", dir.path()});
    EXPECT_EQ(adopt.exit_code, 5) << adopt.out;  // the changed file still is
    EXPECT_EQ(Lines(adopt.out).at(0),
              "adopted: 1 file recorded as adopted (from before the ledger, not as downloaded)");
    EXPECT_NE(adopt.out.find("product 123: 2 files proven (1 adopted), 1 changed, 0 missing, 0 unrecorded"),
              std::string::npos)
        << adopt.out;
    const ProcessResult again = RunCli({"verify", "--ledger", "--adopt", dir.path()});
    EXPECT_EQ(Lines(again.out).at(0),
              "adopted: 0 files recorded as adopted (from before the ledger, not as downloaded)");
}

TEST(VerifyLedgerCli, AFolderWithoutALedgerProvesNothing) {
    TempDir dir;
    dir.Write(kF1, RecordLines(0, 10));
    const ProcessResult result = RunCli({"verify", "--ledger", dir.path()});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_EQ(Lines(result.out).at(0).rfind("ledger: none in " + dir.path() + ": ", 0), 0u) << result.out;
    EXPECT_EQ(ListFiles(dir.path()), std::vector<std::string>{kF1});  // verify writes nothing
    EXPECT_FALSE(std::filesystem::exists(dir / kLedgerFileName));
}

TEST(VerifyLedgerCli, WrongCommandLinesAreUsageErrors) {
    TempDir dir;
    const struct {
        std::vector<std::string> args;
        const char* says;
    } cases[] = {
        {{"verify", "--adopt", dir.path()}, "--adopt requires --ledger"},
        {{"verify", "--ledger", dir.path(), dir.path()}, "--ledger checks one folder"},
        // verify takes its folder as an argument, not with --dir
        {{"verify", "--ledger", dir / "absent"},
         "absent is not a folder; name the folder of record files as DIR"},
        {{"verify"}, "PATH is required"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = RunCli(c.args);
        EXPECT_EQ(result.exit_code, 2) << c.says;
        EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    }
}

TEST(VerifyLedgerCli, ArchiveAndReportAddTheLedgerOnlyWhereThereIsOne) {
    TempDir dir;
    dir.Write(kF1, RecordLines(0, 100));
    const ProcessResult plain = RunCli({"archive", "--dir", dir.path()});
    const ProcessResult plain_json = RunCli({"archive", "--dir", dir.path(), "--json"});
    const ProcessResult plain_page = RunCli({"report", "--dir", dir.path()});
    EXPECT_EQ(plain.out.find("ledger"), std::string::npos) << plain.out;
    EXPECT_FALSE(nlohmann::json::parse(plain_json.out).contains("ledger"));
    EXPECT_EQ(plain_page.out.find("下载台账"), std::string::npos);

    ASSERT_FALSE(AppendLedgerEntry(dir.path(), kF1, 123));
    const ProcessResult text = RunCli({"archive", "--dir", dir.path()});
    EXPECT_EQ(text.exit_code, 0);
    // The ledger's line goes before the archive's verdict, which stays last; the rest is as before.
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "ledger: 1 file proven, 0 changed, 0 missing, 0 unrecorded; chain intact");
    lines.erase(lines.end() - 2);
    EXPECT_EQ(lines, Lines(plain.out));
    const nlohmann::json json = nlohmann::json::parse(RunCli({"archive", "--dir", dir.path(), "--json"}).out);
    EXPECT_EQ(json.at("ledger").at("all_proven"), true);
    EXPECT_EQ(json.at("ledger").at("devices").at(0).at("proven"), 1);
    const ProcessResult page = RunCli({"report", "--dir", dir.path()});
    EXPECT_NE(page.out.find("下载台账：1 个文件已证实，0 个被改动，0 个缺失，0 个未记入；台账链完整"),
              std::string::npos);
    const ProcessResult device_page = RunCli({"report", "--product", "123", "--dir", dir.path()});
    EXPECT_NE(device_page.out.find("<td>下载台账</td><td>1 个文件已证实"), std::string::npos);
}

}  // namespace
}  // namespace korvel::testing
