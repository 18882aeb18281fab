// SPDX-License-Identifier: MIT
// korvel-cli archive, export and report on folders that the simulator's downloads fill, and on bad
// folders. The archive's rules case by case: tests/archive/archive_test.cpp; the page in a browser:
// tests/browser/report_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli_process.h"
#include "protocol/crc16.h"
#include "support/sim_process.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

// Downloads into root, where the scan sees the earlier files, then moves the new file into root/dN, so
// a later download of the same second keeps it. Returns the file's path below root.
std::string Download(const SimProcess& sim, const std::string& root, int n) {
    const ProcessResult result = RunCli({"download", "--port", sim.pty_path(), "--dir", root});
    EXPECT_EQ(result.exit_code, 0) << result.err;
    const std::vector<std::string> files = ListFiles(root);
    EXPECT_EQ(files.size(), 1u);
    if (files.size() != 1) return {};
    const std::string moved = "d" + std::to_string(n) + "/" + files[0];
    fs::create_directory(root + "/d" + std::to_string(n));
    fs::rename(root + "/" + files[0], root + "/" + moved);
    return moved;
}

// What export must give, worked out from the files themselves: every distinct line once, the first
// file that holds it, oldest first (one offset throughout, so the text order is the time order).
using Row = std::vector<std::string>;  // time, value, product, file
std::vector<Row> ExpectedRows(const std::string& root, const std::vector<std::string>& files) {
    std::set<std::string> seen;
    std::vector<Row> rows;
    for (const std::string& file : files) {
        for (const std::string& line : Lines(ReadFile(root + "/" + file))) {
            if (!seen.insert(line.substr(0, line.size() - 5)).second) continue;
            // "2024-03-05 07:06:09+08:00 512 0123 1a2b"
            const size_t value_end = line.find(' ', 26);
            rows.push_back({line.substr(0, 10) + "T" + line.substr(11, 14), line.substr(26, value_end - 26),
                            line.substr(value_end + 1, line.size() - 5 - value_end - 1), file});
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a[0] < b[0]; });
    return rows;
}

std::vector<Row> PythonCsv(const std::string& path) {
    const ProcessResult parsed =
        RunProcess({"/usr/bin/python3", "-c",
                    "import csv, json, sys\n"
                    "print(json.dumps(list(csv.reader(open(sys.argv[1], newline='', encoding='utf-8')))))",
                    path});
    EXPECT_EQ(parsed.exit_code, 0) << parsed.err;
    return nlohmann::json::parse(parsed.out).get<std::vector<Row>>();
}

// Two devices: 0123 downloaded full, then twice more after new records came; 0456 once.
class SimArchive : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new TempDir;
        SimProcess a, b;
        ASSERT_TRUE(a.Start({"--records", "250", "--product", "0123", "--clock", "2024-03-05 07:08:09"}))
            << a.error();
        ASSERT_TRUE(b.Start({"--records", "40", "--product", "0456", "--protocol", "1"})) << b.error();
        files_.push_back(Download(a, folder_->path(), 1));
        ASSERT_TRUE(a.AddRecords(7));
        files_.push_back(Download(a, folder_->path(), 2));
        ASSERT_TRUE(a.AddRecords(5));
        files_.push_back(Download(a, folder_->path(), 3));
        other_ = Download(b, folder_->path(), 4);
    }
    static void TearDownTestSuite() { delete folder_; }

    // A copy of the folder that a test may change.
    static std::string Copy(const TempDir& into) {
        fs::copy(folder_->path(), into.path(), fs::copy_options::recursive);
        return into.path();
    }

    static inline TempDir* folder_ = nullptr;
    static inline std::vector<std::string> files_;
    static inline std::string other_;
};

TEST_F(SimArchive, IncrementalDownloadsAreOneCompleteArchive) {
    const ProcessResult result = RunCli({"archive", "--dir", folder_->path(), "--json"});
    ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
    const nlohmann::json j = nlohmann::json::parse(result.out);
    EXPECT_TRUE(j["complete"]);
    ASSERT_EQ(j["devices"].size(), 2u);
    const nlohmann::json& d = j["devices"][0];
    EXPECT_EQ(d["product"], 123);
    EXPECT_EQ(d["files"], 3);
    EXPECT_EQ(d["valid_lines"], 250 + 8 + 6);  // each incremental file repeats the stop record
    EXPECT_EQ(d["records"], 262);
    EXPECT_EQ(d["interval_seconds"], 121);
    EXPECT_EQ(d["gaps"].size(), 0u);
    EXPECT_EQ(j["devices"][1]["product"], 456);
    EXPECT_EQ(j["devices"][1]["records"], 40);
}

TEST_F(SimArchive, ExportGivesTheFilesRecordsAsCsvAndJson) {
    const std::vector<Row> expected = ExpectedRows(folder_->path(), files_);
    ASSERT_EQ(expected.size(), 262u);
    TempDir out;
    const ProcessResult csv =
        RunCli({"export", "--product", "123", "--dir", folder_->path(), "--output", out / "r.csv"});
    ASSERT_EQ(csv.exit_code, 0) << csv.err;
    std::vector<Row> rows = PythonCsv(out / "r.csv");
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), (Row{"time", "value", "product", "file"}));
    rows.erase(rows.begin());
    EXPECT_EQ(rows, expected);

    const ProcessResult json =
        RunCli({"export", "--product", "0123", "--dir", folder_->path(), "--format", "json"});
    ASSERT_EQ(json.exit_code, 0) << json.err;
    std::vector<Row> objects;
    for (const nlohmann::json& o : nlohmann::json::parse(json.out)) {
        objects.push_back({o["time"], std::to_string(o["value"].get<int>()), o["product"], o["file"]});
    }
    EXPECT_EQ(objects, expected);

    // The other device's, between two times given in its own clock.
    const std::vector<Row> other = ExpectedRows(folder_->path(), {other_});
    const ProcessResult range = RunCli({"export", "--product", "456", "--dir", folder_->path(), "--from",
                                        other[10][0].substr(0, 19), "--to", other[19][0]});
    ASSERT_EQ(range.exit_code, 0) << range.err;
    const std::vector<std::string> lines = Lines(range.out);
    ASSERT_EQ(lines.size(), 11u) << range.out;
    EXPECT_EQ(lines[1].substr(0, 25), other[10][0]);
    EXPECT_EQ(lines[10].substr(0, 25), other[19][0]);
}

TEST_F(SimArchive, RemovedFileIsAGapWithItsBoundsAndADamagedLineIsNamed) {
    TempDir copy;
    const std::string root = Copy(copy);
    fs::remove(root + "/" + files_[1]);
    std::string bytes = ReadFile(root + "/" + files_[2]);
    const size_t third = bytes.find('\n', bytes.find('\n') + 1) + 1;
    bytes[third + 3] ^= 1;
    WriteFile(root + "/" + files_[2], bytes);

    const ProcessResult result = RunCli({"archive", "--dir", root, "--json"});
    EXPECT_EQ(result.exit_code, 5) << result.out << result.err;
    const nlohmann::json d = nlohmann::json::parse(result.out)["devices"][0];
    const std::vector<std::string> first = Lines(ReadFile(root + "/" + files_[0]));
    const std::vector<std::string> third_file = Lines(ReadFile(root + "/" + files_[2]));
    auto iso = [](const std::string& line) { return line.substr(0, 10) + "T" + line.substr(11, 14); };
    ASSERT_EQ(d["gaps"].size(), 2u) << d.dump();
    // The missing download held the records after the first file's last up to its own last, which
    // the third file repeats as its first line.
    EXPECT_EQ(d["gaps"][0]["start"], iso(first.back()));
    EXPECT_EQ(d["gaps"][0]["end"], iso(third_file[0]));
    EXPECT_EQ(d["gaps"][0]["missing"], 6);
    // The damaged line's record is missing too.
    EXPECT_EQ(d["gaps"][1]["start"], iso(third_file[1]));
    EXPECT_EQ(d["gaps"][1]["missing"], 1);
    ASSERT_EQ(d["damaged_lines"].size(), 1u);
    EXPECT_EQ(d["damaged_lines"][0]["file"], files_[2]);
    EXPECT_EQ(d["damaged_lines"][0]["line"], 3);

    const ProcessResult text = RunCli({"archive", "--dir", root});
    EXPECT_EQ(text.exit_code, 5);
    EXPECT_NE(text.out.find("    " + files_[2] + ":3: checksum mismatch\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(": 6 records missing\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("archive incomplete: 2 devices, 3 files; 1 device has"), std::string::npos)
        << text.out;
}

TEST(CliArchive, ClockSetBackIsReportedAndNothingIsCalledLost) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "100", "--product", "0123", "--clock", "2024-03-05 07:08:09"}))
        << sim.error();
    ASSERT_TRUE(sim.Control("clock 2024-03-05 05:08:09"));
    ASSERT_TRUE(sim.AddRecords(20));
    TempDir dir;
    const std::string file = Download(sim, dir.path(), 1);
    const ProcessResult result = RunCli({"archive", "--dir", dir.path(), "--json"});
    EXPECT_EQ(result.exit_code, 5) << result.out;
    const nlohmann::json d = nlohmann::json::parse(result.out)["devices"][0];
    EXPECT_EQ(d["records"], 120);
    EXPECT_EQ(d["gaps"].size(), 0u) << d.dump();
    ASSERT_EQ(d["clock_set_backs"].size(), 1u);
    EXPECT_EQ(d["clock_set_backs"][0]["file"], file);
    EXPECT_EQ(d["clock_set_backs"][0]["line"], 101);
}

struct BadCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> files;  // below the folder; "" makes a folder
    std::vector<std::string> args;                           // "DIR" stands for the folder
    int exit_code;
    std::string expected;  // in stdout or stderr
};

void PrintTo(const BadCase& c, std::ostream* out) { *out << c.name; }

class CliArchiveInput : public ::testing::TestWithParam<BadCase> {};

TEST_P(CliArchiveInput, SaysWhatIsWrongWithoutCrashing) {
    TempDir dir;
    for (const auto& [name, bytes] : GetParam().files) {
        if (bytes.empty()) {
            fs::create_directories(dir / name);
        } else {
            WriteFile(dir / name, bytes);
        }
    }
    std::vector<std::string> args = GetParam().args;
    for (std::string& arg : args)
        if (arg.rfind("DIR", 0) == 0) arg = dir.path() + arg.substr(3);
    const ProcessResult result = RunCli(args);
    EXPECT_EQ(result.exit_code, GetParam().exit_code) << result.out << result.err;
    EXPECT_NE((result.out + result.err).find(GetParam().expected), std::string::npos)
        << result.out << result.err;
    EXPECT_EQ((result.out + result.err).find('\x1b'), std::string::npos)
        << "a raw escape reached the terminal";
    if (result.out.rfind("{", 0) == 0) {
        EXPECT_TRUE(nlohmann::json::accept(result.out)) << result.out;
    }
}

const std::string kRecord = "2022-07-30 10:15:42+08:00 125 0123 cba8\n";

// The text with its checksum, as a record file holds it.
std::string RecordLine(const std::string& text) {
    char crc[8];
    std::snprintf(crc, sizeof crc, " %04x\n", Crc16(text));
    return text + crc;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CliArchiveInput,
    ::testing::Values(
        BadCase{"EmptyFolder", {}, {"archive", "--dir", "DIR"}, 2, "no record files in"},
        BadCase{"UnrelatedFiles",
                {{"notes.txt", "hello\n"}, {"sub", ""}, {"sub/photo.jpg", "\xff\xd8"}},
                {"archive", "--dir", "DIR"},
                2,
                "record files are named like 220730-102005-123-7b.txt"},
        BadCase{"MissingFolder", {}, {"archive", "--dir", "DIR/absent"}, 2, "absent is not a folder"},
        BadCase{"FiftyMegabytesInOneLine",
                {{"220730-102005-123-7b.txt", std::string(50 << 20, '7')}},
                {"archive", "--dir", "DIR"},
                5,
                "220730-102005-123-7b.txt:1: far too long for a record line"},
        BadCase{"NameThatIsNotUtf8",
                {{"\xff\xfe-220730-102005-123-7b.txt", kRecord}},
                {"archive", "--dir", "DIR", "--json"},
                0,
                "\"valid_lines\": 1"},
        BadCase{"NameThatIsNotUtf8InCsv",
                {{"\xff-220730-102005-123-7b.txt", kRecord}},
                {"export", "--product", "123", "--dir", "DIR"},
                0,
                "2022-07-30T10:15:42+08:00,125,0123,\\xff-220730-102005-123-7b.txt\r\n"},
        BadCase{"EscapesInANameReachTheTerminalAsText",
                {{"\x1b[2J\x1b]0;x\x07-220730-102005-123-7b.txt", kRecord + "\n"}},
                {"archive", "--dir", "DIR"},
                5,
                "\\x1b[2J\\x1b]0;x\\x07-220730-102005-123-7b.txt:2: empty line"},
        BadCase{"EscapesInAValueReachTheTerminalAsText",
                {{"220730-102005-123-7b.txt", RecordLine("2022-07-30 10:15:42+08:00 \x1b[31m 0123")}},
                {"export", "--product", "123", "--dir", "DIR"},
                0,
                "2022-07-30T10:15:42+08:00,\\x1b[31m,0123,"},
        // Values that are no number are kept, counted and listed with their file and line, shown as text.
        BadCase{"NoNumberValuesAreListed",
                {{"220730-102005-123-7b.txt", kRecord + RecordLine("2022-07-30 10:17:43+08:00 nan 0123") +
                                                  RecordLine("2022-07-30 10:19:44+08:00 \x1b[31m 0123")}},
                {"archive", "--dir", "DIR"},
                0,
                "  values that are no number: 2\n    220730-102005-123-7b.txt:2: nan\n"
                "    220730-102005-123-7b.txt:3: \\x1b[31m\n"},
        BadCase{
            "NoNumberValuesInJson",
            {{"220730-102005-123-7b.txt", kRecord + RecordLine("2022-07-30 10:17:43+08:00 <b>x</b> 0123")}},
            {"archive", "--dir", "DIR", "--json"},
            0,
            "\"no_number\": [\n        {\n          \"file\": \"220730-102005-123-7b.txt\",\n          "
            "\"line\": 2,"},
        BadCase{"OneRecordHasNoInterval",
                {{"220730-102005-123-7b.txt", kRecord}},
                {"archive", "--dir", "DIR"},
                0,
                "  interval: none\n"},
        BadCase{"UnknownProduct",
                {{"220730-102005-123-7b.txt", kRecord}},
                {"export", "--product", "999", "--dir", "DIR"},
                2,
                "no records of product 999 in"},
        BadCase{
            "ProductThatIsNoNumber", {}, {"report", "--product", "12a", "--dir", "DIR"}, 2, "whole number"},
        BadCase{"BadTime", {}, {"export", "--product", "1", "--from", "5 March"}, 2, "is not YYYY-MM-DD"},
        BadCase{"UnwritableOutput",
                {{"220730-102005-123-7b.txt", kRecord}},
                {"export", "--product", "123", "--dir", "DIR", "--output", "DIR/absent/x.csv"},
                4,
                "cannot write"}),
    [](const ::testing::TestParamInfo<BadCase>& param_info) { return std::string(param_info.param.name); });

TEST(CliInfo, TellsHowManyRecordsAreNotYetDownloadedAndForHowLong) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "100", "--product", "0123", "--clock", "2024-03-05 07:08:09"}))
        << sim.error();
    TempDir dir;
    const ProcessResult before = RunCli({"info", "--port", sim.pty_path(), "--dir", dir.path(), "--json"});
    ASSERT_EQ(before.exit_code, 0) << before.err;
    EXPECT_FALSE(nlohmann::json::parse(before.out).contains("pending"));  // no file of this device yet

    const std::string file = Download(sim, dir.path(), 1);
    // The device clock moves on by 30 records (and 5 s): 30 were taken since the newest saved one.
    const std::string newest = Lines(ReadFile(dir / file)).back().substr(0, 19);
    const ProcessResult later =
        RunProcess({"/usr/bin/date", "-u", "-d", newest + " UTC + 3635 seconds", "+%F %T"});
    ASSERT_TRUE(sim.Control("clock " + Lines(later.out).at(0)));
    const ProcessResult text = RunCli({"info", "--port", sim.pty_path(), "--dir", dir.path()});
    ASSERT_EQ(text.exit_code, 0) << text.err;
    EXPECT_NE(text.out.find("\npending: \u2248 30 records not yet downloaded; the oldest is overwritten in "
                            "about 45.8 days\n"),
              std::string::npos)
        << text.out;
    const ProcessResult json = RunCli({"info", "--port", sim.pty_path(), "--dir", dir.path(), "--json"});
    const nlohmann::json pending = nlohmann::json::parse(json.out).at("pending");
    EXPECT_EQ(pending.at("records"), 30);
    EXPECT_DOUBLE_EQ(pending.at("days_until_overwritten").get<double>(), 45.8);
    EXPECT_EQ(pending.at("overwritten_before_download"), 0);
}

TEST(CliExport, ConcurrentExportsToOneNameLeaveOneWholeExport) {
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 20000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, "2022-07-30 %02d:%02d:%02d+08:00 %d 0123", i / 3600 % 24,
                      i / 60 % 60, i % 60, i);
        lines += RecordLine(text);
    }
    WriteFile(dir / "220730-102005-123-7b.txt", lines);
    const std::string whole = RunCli({"export", "--product", "123", "--dir", dir.path()}).out;
    for (int round = 0; round < 3; ++round) {
        const std::vector<std::string> args = {CliPath(), "export",   "--product", "123",
                                               "--dir",   dir.path(), "--output",  dir / "out.csv"};
        ChildProcess a(args), b(args);
        EXPECT_EQ(a.Wait().exit_code, 0);
        EXPECT_EQ(b.Wait().exit_code, 0);
        EXPECT_EQ(ReadFile(dir / "out.csv"), whole);
        EXPECT_EQ(ListFiles(dir.path()), (std::vector<std::string>{"220730-102005-123-7b.txt", "out.csv"}));
    }
}

TEST(CliExport, SaysWhichFilesOfTheDeviceCouldNotBeRead) {
    TempDir dir;
    WriteFile(dir / "220730-102005-123-7b.txt", kRecord);
    fs::create_symlink("gone", dir / "220731-102005-123-7b.txt");
    for (const char* command : {"export", "report"}) {
        const ProcessResult result = RunCli({command, "--product", "123", "--dir", dir.path()});
        EXPECT_EQ(result.exit_code, 0) << result.err;
        EXPECT_NE(result.err.find("are not complete: 1 unreadable file"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("unreadable: cannot open " + dir / "220731-102005-123-7b.txt"),
                  std::string::npos)
            << result.err;
    }
    const std::string page = RunCli({"report", "--product", "123", "--dir", dir.path()}).out;
    EXPECT_NE(page.find("不完整"), std::string::npos);
}

TEST(CliReport, OpenWritesIntoAFolderOfItsOwn) {
    TempDir dir;
    WriteFile(dir / "220730-102005-123-7b.txt", kRecord);
    fs::create_directory(dir / "bin");
    fs::create_directory(dir / "tmp");
    WriteFile(dir / "bin/xdg-open", "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/opened\"\n");
    chmod((dir / "bin/xdg-open").c_str(), 0755);
    // Another user's links where a predictable name would be.
    WriteFile(dir / "victim", "precious");
    for (const char* name : {"korvel-report-123.html", "korvel-report-123.html.partial"})
        fs::create_symlink(dir / "victim", dir / ("tmp/" + std::string(name)));
    const ProcessResult opened =
        RunProcess({"/usr/bin/env", "PATH=" + dir / "bin" + ":/usr/bin:/bin", "TMPDIR=" + dir / "tmp",
                    CliPath(), "report", "--product", "123", "--dir", dir.path(), "--open"});
    EXPECT_EQ(opened.exit_code, 0) << opened.err;
    EXPECT_EQ(ReadFile(dir / "victim"), "precious");
    const std::string page = Lines(ReadFile(dir / "bin/opened")).at(0);
    const fs::path folder = fs::path(page).parent_path();
    EXPECT_EQ(folder.parent_path(), fs::path(dir / "tmp"));
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_NE(ReadFile(page).find("<title>产品编号 0123"), std::string::npos);
    fs::remove_all(folder);
}

TEST(CliReport, NonFiniteValuesAreBreaksAndCounted) {
    TempDir dir;
    WriteFile(dir / "220730-102005-123-7b.txt", kRecord + RecordLine("2022-07-30 10:17:43+08:00 nan 0123") +
                                                    RecordLine("2022-07-30 10:19:44+08:00 inf 0123"));
    const ProcessResult result = RunCli({"report", "--product", "123", "--dir", dir.path()});
    ASSERT_EQ(result.exit_code, 0) << result.err;
    EXPECT_EQ(result.out.find("nan,"), std::string::npos);
    EXPECT_EQ(result.out.find(",inf"), std::string::npos);
    EXPECT_NE(result.out.find("\"v\":[125,null,null]"), std::string::npos);
    EXPECT_NE(result.out.find("<td>无数值（nan、inf 或文字）</td><td>2</td>"), std::string::npos);
    EXPECT_NE(result.out.find("<tr class=\"no-number\"><td>220730-102005-123-7b.txt:3</td><td>2022-07-30 "
                              "10:19:44+08:00</td><td>inf</td></tr>"),
              std::string::npos);
}

// The overview names each device as it writes its number, also one whose only file holds only damaged
// lines; a device of one record has no usual interval, and nothing is told from one.
TEST(CliReport, ProductNumbersAsWrittenAndNoIntervalFromOneRecord) {
    TempDir dir;
    WriteFile(dir / "220730-102005-1-1.txt", "damaged\n");
    WriteFile(dir / "220730-102005-123-7b.txt", kRecord);
    const ProcessResult page = RunCli({"report", "--dir", dir.path()});
    EXPECT_NE(page.out.find("<a href=\"#product-1\">0001</a>"), std::string::npos) << page.out;
    EXPECT_NE(page.out.find("<h2>产品编号 0001</h2>"), std::string::npos);
    EXPECT_EQ(page.out.find("121 秒"), std::string::npos);
    EXPECT_NE(page.out.find("<td>记录间隔</td><td>—（还看不出记录间隔）</td>"), std::string::npos);
    EXPECT_NE(page.out.find("<td>未知（还看不出记录间隔）</td>"), std::string::npos);
    const ProcessResult json = RunCli({"archive", "--dir", dir.path(), "--json"});
    const nlohmann::json device = nlohmann::json::parse(json.out)["devices"][1];
    EXPECT_EQ(device["product"], 123);
    EXPECT_TRUE(device["interval_seconds"].is_null()) << device.dump();
    EXPECT_TRUE(device["days"][0]["running_seconds"].is_null()) << device.dump();
}

TEST(CliInfo, CountsWithTheDevicesOwnIntervalAndSaysWhatItCannotRead) {
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--records", "100", "--product", "0123", "--clock", "2024-03-05 07:40:05"}))
        << sim.error();
    TempDir dir;
    std::string lines;  // a device that takes a record every 60 s, the newest at 07:10:00
    for (int minute = 0; minute <= 10; ++minute) {
        char text[48];
        std::snprintf(text, sizeof text, "2024-03-05 07:%02d:00+08:00 5 0123", minute);
        lines += RecordLine(text);
    }
    WriteFile(dir / "240305-071000-123-7b.txt", lines);
    struct Step {
        const char* name;
        std::function<void()> prepare;
        std::string dir;
        std::string expected;
    };
    const Step steps[] = {
        {"interval", [] {}, dir.path(),
         // 30 taken in 30 min 5 s; the device holds 100 of its 32,767: nothing was overwritten.
         "\npending: \u2248 30 records not yet downloaded; the oldest is overwritten in about 22.7 days\n"},
        {"unreadable", [&] { fs::create_symlink("gone", dir / "240305-081000-123-7b.txt"); }, dir.path(),
         "; 1 saved file of the device could not be read, so the count may be too high (cannot open "},
        {"missing folder", [] {}, dir / "absent",
         "\npending: unknown: the folder " + dir / "absent" + " does not exist; name the folder"},
    };
    for (const Step& row : steps) {
        row.prepare();
        const ProcessResult text = RunCli({"info", "--port", sim.pty_path(), "--dir", row.dir});
        EXPECT_EQ(text.exit_code, 0) << row.name << text.err;
        EXPECT_NE(text.out.find(row.expected), std::string::npos) << row.name << "\n" << text.out;
        EXPECT_EQ(text.out.find("overwritten before"), std::string::npos) << row.name << "\n" << text.out;
    }
}

TEST(CliReport, OpenHandsThePageToTheDesktopsBrowser) {
    TempDir dir;
    WriteFile(dir / "220730-102005-123-7b.txt", kRecord);
    fs::create_directory(dir / "bin");
    // A stand-in for xdg-open that notes what it was given, or fails as one without a browser does.
    WriteFile(dir / "bin/xdg-open",
              "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/opened\"\nexit ${FAIL:-0}\n");
    chmod((dir / "bin/xdg-open").c_str(), 0755);
    const std::string path = "PATH=" + dir / "bin" + ":/usr/bin:/bin";
    const ProcessResult opened = RunProcess({"/usr/bin/env", path, CliPath(), "report", "--product", "123",
                                             "--dir", dir.path(), "--output", dir / "r.html", "--open"});
    EXPECT_EQ(opened.exit_code, 0) << opened.err;
    EXPECT_EQ(ReadFile(dir / "bin/opened"), dir / "r.html\n");
    const std::string page = ReadFile(dir / "r.html");
    EXPECT_NE(page.find("<title>产品编号 0123 运行速度记录报告</title>"), std::string::npos);
    EXPECT_EQ(page.find("src=\"http"), std::string::npos);

    const ProcessResult failed =
        RunProcess({"/usr/bin/env", path, "FAIL=3", CliPath(), "report", "--product", "123", "--dir",
                    dir.path(), "--output", dir / "r.html", "--open"});
    EXPECT_EQ(failed.exit_code, 7);
    EXPECT_NE(failed.err.find("the page was written, but xdg-open found no program to open it"),
              std::string::npos)
        << failed.err;
}

}  // namespace
}  // namespace korvel::testing
