// SPDX-License-Identifier: MIT
// The archive as data: archive --json's object and export's CSV and JSON, on folders written here. The
// expected values are read off each case's lines.
#include "views/archive_data.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

constexpr const char* kA = "240305-010000-123-7b.txt";

// Lines of product 0123 at +08:00 from 2024-03-05 00:00:00, 121 s apart: "V" a value, "-" no line.
std::string Lines(const std::vector<std::string>& values) {
    std::string lines;
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] == "-") continue;
        const int t = static_cast<int>(i) * 121;
        char text[96];
        std::snprintf(text, sizeof text, "2024-03-05 %02d:%02d:%02d+08:00 %s 0123", t / 3600, t / 60 % 60,
                      t % 60, values[i].c_str());
        lines += RecordLine(text);
    }
    return lines;
}

struct JsonCase {
    const char* name;
    std::string bytes;  // of kA
    ArchiveJsonOptions options;
    // JSON pointers and what they hold; "absent" for a key that must not be there.
    std::vector<std::pair<const char*, std::string>> expected;
};

void PrintTo(const JsonCase& c, std::ostream* out) { *out << c.name; }

class ArchiveJsonCase : public ::testing::TestWithParam<JsonCase> {};

TEST_P(ArchiveJsonCase, HoldsWhatTheLinesShow) {
    const JsonCase& c = GetParam();
    TempFolder folder;
    folder.Write(kA, c.bytes);
    const std::string text = ArchiveJson(ReadArchive(folder.path()), c.options);
    ASSERT_EQ(text.back(), '\n');
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j.value(c.options.database ? "/database"_json_pointer : "/folder"_json_pointer, ""),
              folder.path());
    EXPECT_EQ(j.contains(c.options.database ? "folder" : "database"), false);
    for (const auto& [pointer, value] : c.expected) {
        const nlohmann::json::json_pointer at(pointer);
        if (value == "absent") {
            EXPECT_FALSE(j.contains(at)) << pointer;
            continue;
        }
        ASSERT_TRUE(j.contains(at)) << pointer;
        EXPECT_EQ(j[at], nlohmann::json::parse(value)) << pointer;
    }
}

const std::string kFile = std::string("\"") + kA + "\"";

INSTANTIATE_TEST_SUITE_P(
    Archive, ArchiveJsonCase,
    ::testing::Values(
        JsonCase{"OneCompleteDevice",
                 Lines({"5", "0", "7"}),
                 {},
                 {{"/complete", "true"},
                  {"/files", "1"},
                  {"/unreadable", "[]"},
                  {"/devices/0/product", "123"},
                  {"/devices/0/complete", "true"},
                  {"/devices/0/files", "1"},
                  {"/devices/0/valid_lines", "3"},
                  {"/devices/0/records", "3"},
                  {"/devices/0/first", "\"2024-03-05T00:00:00+08:00\""},
                  {"/devices/0/last", "\"2024-03-05T00:04:02+08:00\""},
                  {"/devices/0/interval_seconds", "121"},
                  {"/devices/0/gaps", "[]"},
                  {"/devices/0/damaged_lines_unlisted", "0"},
                  {"/devices/0/highest", R"({"value": 7, "time": "2024-03-05T00:04:02+08:00"})"},
                  {"/devices/0/days", R"([{"date": "2024-03-05", "records": 3, "running_seconds": 242,
                                           "highest": 7, "highest_time": "2024-03-05T00:04:02+08:00"}])"},
                  {"/devices/0/limit", "absent"},
                  {"/devices/0/periods_above_limit", "absent"}}},
        JsonCase{"FromADatabase",
                 Lines({"1", "2"}),
                 {.limit = std::nullopt, .database = true},
                 {{"/complete", "true"}}},
        JsonCase{
            "PeriodsAboveTheLimit",
            Lines({"5", "9", "9", "1", "8"}),
            {.limit = 6, .database = false},
            {{"/devices/0/limit", "6.0"},
             {"/devices/0/periods_above_limit",
              R"([{"start": "2024-03-05T00:02:01+08:00", "end": "2024-03-05T00:04:02+08:00", "records": 2,
                        "duration_seconds": 242, "highest": 9, "highest_time": "2024-03-05T00:02:01+08:00"},
                       {"start": "2024-03-05T00:08:04+08:00", "end": "2024-03-05T00:08:04+08:00", "records": 1,
                        "duration_seconds": 121, "highest": 8, "highest_time": "2024-03-05T00:08:04+08:00"}])"}}},
        JsonCase{"AGapBreaksNothingButIsListed",
                 Lines({"1", "2", "-", "-", "-", "3"}),
                 {},
                 {{"/complete", "false"},
                  {"/devices/0/complete", "false"},
                  {"/devices/0/gaps", R"([{"start": "2024-03-05T00:02:01+08:00",
                                           "end": "2024-03-05T00:10:05+08:00", "missing": 3}])"}}},
        JsonCase{"DamageAndValuesThatAreNoNumber",
                 Lines({"4", "nan", "x"}) + "2024-03-05 00:06:03+08:00 5 0123 0000\n" +
                     Lines({"-", "-", "-", "-", "\x1b]0;t\x07"}),
                 {},
                 {{"/devices/0/valid_lines", "4"},
                  {"/devices/0/damaged_lines",
                   "[{\"file\": " + kFile + ", \"line\": 4, \"reason\": \"checksum mismatch\"}]"},
                  {"/devices/0/no_number",
                   "[{\"file\": " + kFile +
                       ", \"line\": 2, \"time\": \"2024-03-05T00:02:01+08:00\", \"value\": \"nan\"},"
                       "{\"file\": " +
                       kFile +
                       ", \"line\": 3, \"time\": \"2024-03-05T00:04:02+08:00\", \"value\": \"x\"},"
                       "{\"file\": " +
                       kFile +
                       ", \"line\": 5, \"time\": \"2024-03-05T00:08:04+08:00\", \"value\": "
                       "\"\\\\x1b]0;t\\\\x07\"}]"},
                  {"/devices/0/highest/value", "4"},
                  {"/devices/0/days/0/records", "4"}}},
        JsonCase{"OneRecordShowsNoInterval",
                 Lines({"3"}),
                 {},
                 {{"/devices/0/interval_seconds", "null"},
                  {"/devices/0/days/0/running_seconds", "null"},
                  {"/devices/0/first", "\"2024-03-05T00:00:00+08:00\""}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(ArchiveExport, ValuesStayAsWrittenAndTextNeverBecomesAFormula) {
    TempFolder folder;
    folder.Write("=cmd/" + std::string(kA), RecordLine("2024-03-05 00:00:00+08:00 nan 0123") +
                                                RecordLine("2024-03-05 00:02:01+08:00 -inf 0123") +
                                                RecordLine("2024-03-05 00:04:02+08:00 =1+2 0123") +
                                                RecordLine("2024-03-05 00:06:03+08:00 @x 0123") +
                                                RecordLine("2024-03-05 00:08:04+08:00 -5 0123") +
                                                RecordLine("2024-03-05 00:10:05+08:00 \x1b]0;t\x07 0123"));
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    const DeviceArchive& d = archive.devices[0];
    std::ostringstream csv;
    WriteRecordsCsv(archive, d, {0, 1, 2, 3, 4, 5}, csv);
    const std::string file = ",0123,'=cmd/" + std::string(kA) + "\r\n";
    EXPECT_EQ(csv.str(),
              "time,value,product,file\r\n"
              "2024-03-05T00:00:00+08:00,nan" +
                  file + "2024-03-05T00:02:01+08:00,-inf" + file + "2024-03-05T00:04:02+08:00,'=1+2" + file +
                  "2024-03-05T00:06:03+08:00,'@x" + file + "2024-03-05T00:08:04+08:00,-5" + file +
                  "2024-03-05T00:10:05+08:00,\\x1b]0;t\\x07" + file);
    std::ostringstream json;
    WriteRecordsJson(archive, d, {0, 1, 4}, json);
    const nlohmann::json parsed = nlohmann::json::parse(json.str());
    EXPECT_EQ(parsed[0]["value"], "nan");
    EXPECT_EQ(parsed[1]["value"], "-inf");
    EXPECT_EQ(parsed[2]["value"], -5);
}

TEST(ArchiveExport, CsvQuotesWhatNeedsItAndJsonKeepsTypes) {
    TempFolder folder;
    folder.Write("a,b/" + std::string(kA), RecordLine("2024-03-05 00:00:00+08:00 5 0123") +
                                               RecordLine("2024-03-05 00:02:01-00:00 1,5 0123") +
                                               RecordLine("2024-03-05 00:04:02+08:00 12.5 0123"));
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    const DeviceArchive& d = archive.devices[0];
    std::ostringstream csv;
    WriteRecordsCsv(archive, d, {0, 1}, csv);
    EXPECT_EQ(csv.str(),
              "time,value,product,file\r\n"
              "2024-03-05T00:00:00+08:00,5,0123,\"a,b/240305-010000-123-7b.txt\"\r\n"
              "2024-03-05T00:02:01-00:00,\"1,5\",0123,\"a,b/240305-010000-123-7b.txt\"\r\n");
    std::ostringstream json;
    WriteRecordsJson(archive, d, {0, 1, 2}, json);
    EXPECT_EQ(
        json.str(),
        "[\n"
        R"({"time":"2024-03-05T00:00:00+08:00","value":5,"product":"0123","file":"a,b/240305-010000-123-7b.txt"},)"
        "\n"
        R"({"time":"2024-03-05T00:02:01-00:00","value":"1,5","product":"0123","file":"a,b/240305-010000-123-7b.txt"},)"
        "\n"
        R"({"time":"2024-03-05T00:04:02+08:00","value":12.5,"product":"0123","file":"a,b/240305-010000-123-7b.txt"})"
        "\n]\n");
    std::ostringstream empty;
    WriteRecordsJson(archive, d, {}, empty);
    EXPECT_EQ(empty.str(), "[]\n");
}

}  // namespace
}  // namespace korvel::testing
