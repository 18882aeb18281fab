// SPDX-License-Identifier: MIT
// korvel-cli verify: what it finds in record files and how it reports it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "protocol/checked_line.h"

namespace korvel::testing {
namespace {

std::string Line(const std::string& text) { return WithChecksum(text) + "\n"; }

// Line i of a file of product 123, one record every 121 seconds.
std::string Record(int i, const std::string& product = "0123") {
    const int seconds = 36000 + 121 * i;
    char text[64];
    std::snprintf(text, sizeof text, "2022-07-30 %02d:%02d:%02d+08:00 %d %s", seconds / 3600,
                  seconds / 60 % 60, seconds % 60, 100 + i, product.c_str());
    return Line(text);
}

std::string GoodFile(int lines) {
    std::string bytes;
    for (int i = 0; i < lines; ++i) bytes += Record(i);
    return bytes;
}

constexpr const char* kName = "220730-102005-123-7b.txt";

struct Case {
    const char* name;
    std::string bytes;
    int exit_code;
    std::string expected;  // a text the output must contain
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class VerifyCase : public ::testing::TestWithParam<Case> {};

TEST_P(VerifyCase, ReportsEachProblemWithItsLine) {
    TempDir dir;
    const std::string path = dir / kName;
    WriteFile(path, GetParam().bytes);
    const ProcessResult result = RunCli({"verify", path});
    EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.out << result.err;
    EXPECT_NE(result.out.find(GetParam().expected), std::string::npos) << result.out;
}

std::string Flipped() {
    std::string bytes = GoodFile(4);
    bytes[Record(0).size() + 3] ^= 0x01;  // a digit of the year in line 2
    return bytes;
}

std::string WithForeignLine() { return Record(0) + Record(1) + Record(2, "0456") + Record(3); }

std::string Reordered() { return Record(0) + Record(2) + Record(1) + Record(3); }

std::string CrLf() {
    std::string bytes = Record(0);
    bytes.insert(bytes.size() - 1, "\r");
    return bytes;
}

std::string UpperCaseDigits() {
    std::string line = Record(0);
    for (size_t i = line.size() - 5; i < line.size(); ++i) line[i] = static_cast<char>(std::toupper(line[i]));
    return line;
}

std::string BadDigits() {
    std::string line = Record(0);
    line[line.size() - 2] = 'g';
    return line;
}

INSTANTIATE_TEST_SUITE_P(
    Files, VerifyCase,
    ::testing::Values(
        Case{"Good", GoodFile(50), 0, "1 file, 50 lines checked: no problems"},
        Case{"WorkedExample", "2022-07-30 10:15:42+08:00 125 0123 cba8\n", 0,
             "1 file, 1 line checked: no problems"},
        Case{"Empty", "", 0, "1 file, 0 lines checked: no problems"},
        Case{"UpperCaseChecksum", UpperCaseDigits(), 0, "no problems"},
        Case{"FlippedByte", Flipped(), 5, std::string(":2: checksum mismatch")},
        Case{"LineOfAnotherProduct", WithForeignLine(), 5,
             ":3: the product number 0456 is not the file's 123"},
        Case{"Reordered", Reordered(), 5, ":3: timestamp 2022-07-30 10:02:01 is earlier than line 2's"},
        Case{"LineTwice", Record(0) + Record(1) + Record(1), 5, ":3: the same record as line 2"},
        Case{"CutShort", GoodFile(2) + Record(2).substr(0, 20), 5, ":3: no line feed at the end"},
        Case{"CrLf", CrLf(), 5, ":1: the line ends in CR"},
        Case{"EmptyLine", Record(0) + "\n" + Record(1), 5, ":2: empty line"},
        Case{"NotHex", BadDigits(), 5, ":1: the checksum"},
        Case{"NoSpaceBeforeChecksum", "2022-07-30 10:00:00+08:00 1 0123_4b37\n", 5,
             ":1: no checksum at the end"},
        // Two records of the same second are in order: only an earlier key is out of order.
        Case{"TwoRecordsOfOneSecond",
             Line("2022-07-30 10:00:00+08:00 1 0123") + Line("2022-07-30 10:00:00+08:00 2 0123"), 0,
             "no problems"},
        // What a device stored reaches the terminal escaped, never as a control sequence.
        Case{"ControlSequenceInARecord", Line("2022-07-30 10:00:00+08:00 1 \x1b]0;title\x07\x1b[2J"), 5,
             "product number \\x1b]0;title\\x07\\x1b[2J is not the file's 123"},
        // A value that is no number is kept and told, not a problem: the line is whole.
        Case{"NoNumber", Record(0) + Line("2022-07-30 10:02:01+08:00 nan 0123"), 0,
             ":2: the value \"nan\" is no number (kept as written)"},
        Case{"NoNumberSummed",
             Line("2022-07-30 10:00:00+08:00 inf 0123") + Line("2022-07-30 10:02:01+08:00 x 0123"), 0,
             "2 lines checked: no problems; 2 values no number"},
        Case{"MarkupAndEscapeAsValues",
             Line("2022-07-30 10:00:00+08:00 <b>1</b> 0123") + Line("2022-07-30 10:02:01+08:00 \x1b[2J 0123"),
             0, ":2: the value \"\\x1b[2J\" is no number"},
        Case{"NumbersOfEveryForm",
             Line("2022-07-30 10:00:00+08:00 -3 0123") + Line("2022-07-30 10:02:01+08:00 1.5 0123") +
                 Line("2022-07-30 10:04:02+08:00 1e3 0123"),
             0, "3 lines checked: no problems\n"},
        Case{"C1AndBrokenUtf8",
             Line("2022-07-30 10:00:00+08:00 1 \xc2\x9b"
                  "2J\xff"),
             5, "product number \\xc2\\x9b2J\\xff is not"}),
    [](const ::testing::TestParamInfo<Case>& param_info) { return std::string(param_info.param.name); });

TEST(Verify, CountsEveryProblemAndSummarises) {
    TempDir dir;
    WriteFile(dir / kName, Flipped() + Record(9, "0456"));
    const ProcessResult result = RunCli({"verify", dir / kName});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_NE(result.out.find("1 file, 5 lines checked: 2 problems"), std::string::npos) << result.out;
}

TEST(Verify, ChecksTheProductAgainstTheName) {
    TempDir dir;
    // Product -1 is stored under its unsigned 32-bit form; a product text that is no number is no
    // product at all.
    WriteFile(dir / "220730-102005-4294967295-ffffffff.txt", Record(0, "-1"));
    WriteFile(dir / "220730-102005-0-0.txt", Record(0, "ABC"));
    WriteFile(dir / "220730-102005-124-7c.txt", Record(0));
    const ProcessResult result = RunCli({"verify", dir.path()});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_NE(result.out.find("-124-7c.txt:1: the product number 0123 is not the file's 124"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("-0-0.txt:1: the product number ABC is not the file's 0"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("3 files, 3 lines checked: 2 problems\n"), std::string::npos) << result.out;
}

TEST(Verify, SearchesFoldersAtAnyDepthWithoutFollowingLinks) {
    TempDir dir;
    std::filesystem::create_directories(dir / "a/b/c");
    WriteFile(dir / "a/b/c/220730-102005-123-7b.txt", Flipped());
    WriteFile(dir / "a/220731-102005-123-7b.txt", GoodFile(3));
    WriteFile(dir / "a/notes.txt", "not a record file\n");
    WriteFile(dir / "a/220731-102005-123-7c.txt", "names that disagree are no record files\n");
    WriteFile(dir / "a/220731-102005-123-7b.txt.bak", "nor are backups\n");
    std::filesystem::create_directory_symlink(dir.path(), dir / "a/b/loop");
    const ProcessResult result = RunCli({"verify", dir.path()});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_NE(result.out.find(dir / "a/b/c/220730-102005-123-7b.txt:2: checksum mismatch"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("2 files, 7 lines checked: 1 problem\n"), std::string::npos) << result.out;
}

TEST(Verify, FileWhoseNameCarriesNoProductIsAProblem) {
    TempDir dir;
    WriteFile(dir / "records.txt", GoodFile(2));
    const ProcessResult result = RunCli({"verify", dir / "records.txt"});
    EXPECT_EQ(result.exit_code, 5);
    EXPECT_NE(result.out.find("records.txt: the name does not end in -N-hex.txt"), std::string::npos)
        << result.out;
}

TEST(Verify, UnreadableFolderIsAProblemNotASilentSkip) {
    // Root reads every folder, so the check runs as user nobody.
    if (geteuid() != 0) GTEST_SKIP() << "needs root to run the command as another user";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv";
    TempDir dir;
    std::filesystem::permissions(
        dir.path(), std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                        std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                        std::filesystem::perms::others_exec);
    WriteFile(dir / kName, GoodFile(2));
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    const ProcessResult result = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                             "--clear-groups", CliPath(), "verify", dir.path()});
    if (result.exit_code == 127) GTEST_SKIP() << "the program is out of reach for user nobody";
    EXPECT_EQ(result.exit_code, 5) << result.err;
    EXPECT_NE(result.out.find("locked: cannot read the folder"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("1 file, 2 lines checked: 1 problem"), std::string::npos) << result.out;
}

TEST(Verify, MissingPathIsAUsageError) {
    TempDir dir;
    const ProcessResult result = RunCli({"verify", dir / "absent"});
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_NE(result.err.find("no such file or folder"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace korvel::testing
