// SPDX-License-Identifier: MIT
// The fleet as text and as JSON, a recorder at a time: what the database holds of it and what was
// estimated for it, written out per case.
#include "views/fleet_text.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace korvel::testing {
namespace {

constexpr int64_t kNow = 1710000000;  // 2024-03-09T16:00:00Z

struct FleetCase {
    const char* name;
    FleetStatus row;
    const char* text;  // its paragraph of fleet
    const char* json;  // its object of fleet --json
};

void PrintTo(const FleetCase& c, std::ostream* out) { *out << c.name; }

FleetDevice Device(int64_t product, int64_t records, int64_t first, int64_t last, int64_t interval,
                   std::optional<int64_t> ingested, const char* host, int64_t gaps, int64_t missing,
                   int64_t damaged) {
    FleetDevice d;
    d.product = product;
    d.records = records;
    d.first_utc = first;
    d.last_utc = last;
    d.interval = interval;
    d.ingested_utc = ingested;
    d.ingested_host = host;
    d.gaps = gaps;
    d.missing = missing;
    d.damaged = damaged;
    return d;
}

FleetStatus Row(FleetDevice device, bool estimated, int64_t pending, int64_t lost, int64_t overwritten,
                bool due, bool complete) {
    FleetStatus row{std::move(device)};
    row.estimated = estimated;
    row.pending = pending;
    row.lost = lost;
    row.overwritten = overwritten;
    row.due = due;
    row.complete = complete;
    return row;
}

const FleetCase kCases[] = {
    {"PendingAndAGap",
     Row(Device(123, 500, 1709596800, 1709996400, 121, 1709999000, "<b>\x1b[31m", 1, 2, 0), true, 29, 0,
         1713960000, false, false),
     "product 123\n"
     "  records: 500 from 2024-03-05T00:00:00Z to 2024-03-09T15:00:00Z, one every 121 s\n"
     "  last ingest: 2024-03-09T15:43:20Z from <b>\\x1b[31m\n"
     "  not yet downloaded: about 29 records; the oldest is overwritten at 2024-04-24T12:00:00Z\n"
     "  gaps: 1 (2 records missing), damaged lines: 0\n",
     R"({"product": 123, "records": 500, "first": "2024-03-05T00:00:00Z", "newest": "2024-03-09T15:00:00Z",
         "interval_seconds": 121, "last_ingest": "2024-03-09T15:43:20Z", "last_ingest_host": "<b>\\x1b[31m",
         "pending": 29, "lost": 0, "overwritten": "2024-04-24T12:00:00Z", "due": false, "complete": false,
         "gaps": 1, "missing": 2, "damaged_lines": 0})"},
    {"NoValidLine", Row(Device(7, 0, 0, 0, 0, std::nullopt, "", 0, 0, 3), false, 0, 0, 0, false, false),
     "product 7\n"
     "  records: 0 (no line of its files is valid)\n"
     "  last ingest: never\n"
     "  not yet downloaded: unknown, no valid record to count from\n"
     "  gaps: 0 (0 records missing), damaged lines: 3\n",
     R"({"product": 7, "records": 0, "first": null, "newest": null, "interval_seconds": null,
         "last_ingest": null, "last_ingest_host": "", "pending": null, "lost": null, "overwritten": null,
         "due": false, "complete": false, "gaps": 0, "missing": 0, "damaged_lines": 3})"},
    {"OneRecordNoInterval",
     Row(Device(9, 1, 1709000000, 1709000000, 0, 1709900000, "pc\xff", 0, 0, 0), false, 0, 0, 0, false, true),
     "product 9\n"
     "  records: 1 from 2024-02-27T02:13:20Z to 2024-02-27T02:13:20Z, no usual interval yet\n"
     "  last ingest: 2024-03-08T12:13:20Z from pc\\xff\n"
     "  not yet downloaded: unknown, no usual interval to count with\n"
     "  gaps: 0 (0 records missing), damaged lines: 0\n",
     R"({"product": 9, "records": 1, "first": "2024-02-27T02:13:20Z", "newest": "2024-02-27T02:13:20Z",
         "interval_seconds": null, "last_ingest": "2024-03-08T12:13:20Z", "last_ingest_host": "pc\\xff",
         "pending": null, "lost": null, "overwritten": null, "due": false, "complete": true, "gaps": 0,
         "missing": 0, "damaged_lines": 0})"},
    {"OverwrittenAlready",
     Row(Device(4000000000, 40000, 1709000000, 1709596800, 60, std::nullopt, "", 0, 1, 0), true, 32767, 5,
         1709990000, true, true),
     "product 4000000000\n"
     "  records: 40000 from 2024-02-27T02:13:20Z to 2024-03-05T00:00:00Z, one every 60 s\n"
     "  last ingest: never\n"
     "  not yet downloaded: about 32767 records (5 more already overwritten); the oldest is overwritten "
     "already: 2024-03-09T13:13:20Z (due)\n"
     "  gaps: 0 (1 record missing), damaged lines: 0\n",
     R"({"product": 4000000000, "records": 40000, "first": "2024-02-27T02:13:20Z",
         "newest": "2024-03-05T00:00:00Z", "interval_seconds": 60, "last_ingest": null, "last_ingest_host": "",
         "pending": 32767, "lost": 5, "overwritten": "2024-03-09T13:13:20Z", "due": true, "complete": true,
         "gaps": 0, "missing": 1, "damaged_lines": 0})"},
};

class FleetRow : public ::testing::TestWithParam<FleetCase> {};

TEST_P(FleetRow, AsTextAndAsJson) {
    const FleetCase& c = GetParam();
    EXPECT_EQ(FleetText("fleet.sqlite", {c.row}, kNow, 7),
              "database: fleet.sqlite\n" + std::string(c.text) + "1 recorder, " + (c.row.due ? "1" : "0") +
                  " due within 7 days, " + (c.row.complete ? "0" : "1") + " incomplete\n");
    EXPECT_EQ(nlohmann::ordered_json::parse(FleetJson({c.row})),
              nlohmann::ordered_json::array({nlohmann::ordered_json::parse(c.json)}));
}

INSTANTIATE_TEST_SUITE_P(Fleet, FleetRow, ::testing::ValuesIn(kCases),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(Fleet, TheDatabaseNameIsShownAndTheLastLineCountsEveryRow) {
    std::vector<FleetStatus> rows;
    for (const FleetCase& c : kCases) rows.push_back(c.row);
    const std::string text = FleetText("/srv/\x07korvel.sqlite", rows, kNow, 1);
    EXPECT_EQ(text.substr(0, text.find('\n') + 1), "database: /srv/\\x07korvel.sqlite\n");
    EXPECT_EQ(text.substr(text.rfind('\n', text.size() - 2) + 1),
              "4 recorders, 1 due within 1 day, 2 incomplete\n");
    EXPECT_EQ(FleetText("none.sqlite", {}, kNow, 0),
              "database: none.sqlite\n0 recorders, 0 due within 0 days, 0 incomplete\n");
    EXPECT_EQ(FleetJson({}), "[]");
}

}  // namespace
}  // namespace korvel::testing
