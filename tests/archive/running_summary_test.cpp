// SPDX-License-Identifier: MIT
// Days, periods above a limit and highest values on planted archives whose clock turns midnight and
// changes its offset.
#include "archive/running_summary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

constexpr const char* kFile = "240305-080000-123-7b.txt";

struct DaysCase {
    const char* name;
    std::string lines;
    std::vector<std::string> days;  // date, records, running time, highest at time
};

std::vector<std::string> Days(const std::string& lines) {
    TempFolder folder;
    folder.Write(kFile, lines);
    const Archive archive = ReadArchive(folder.path());
    std::vector<std::string> out;
    if (archive.devices.size() != 1) return {"devices: " + std::to_string(archive.devices.size())};
    const DeviceArchive& d = archive.devices.front();
    for (const DaySummary& day : SummariseDays(d, ChronologicalRecords(d, std::nullopt, std::nullopt))) {
        out.push_back(day.date + ' ' + std::to_string(day.records) + ' ' + DurationText(day.running_seconds) +
                      ' ' +
                      (day.has_highest ? std::to_string(static_cast<int>(day.highest)) + " at " +
                                             RecordTimestamp(d.records[day.highest_at])
                                       : "none"));
    }
    return out;
}

class DaysOf : public ::testing::TestWithParam<DaysCase> {};

TEST_P(DaysOf, SplitByTheRecordsOwnClock) { EXPECT_EQ(Days(GetParam().lines), GetParam().days); }

const int kValues[] = {0, 5, 7, 9, 0, 3};

INSTANTIATE_TEST_SUITE_P(
    Planted, DaysOf,
    ::testing::Values(
        // 23:54 to 00:04 at +08:00 is one UTC day (15:54 to 16:04) but two of the device's.
        DaysCase{"LocalMidnight",
                 ClockLines("2024-03-05 23:54:00", "+08:00", 6, [](int i) { return kValues[i]; }),
                 {"2024-03-05 3 0:04:02 7 at 2024-03-05 23:58:02+08:00",
                  "2024-03-06 3 0:04:02 9 at 2024-03-06 00:00:03+08:00"}},
        // Midnight, then the clock jumps from 02:00 +01:00 to 03:00 +02:00; the records keep 121 s apart.
        // Zeros at i = 0, 10, ..., 60 of the first part; the second part runs 20..29.
        DaysCase{"MidnightThenSpringForward",
                 ClockLines("2024-03-30 23:56:00", "+01:00", 62, [](int i) { return i % 10; }) +
                     ClockLines("2024-03-31 03:01:02", "+02:00", 10, [](int i) { return 20 + i; }),
                 {"2024-03-30 2 0:02:01 1 at 2024-03-30 23:58:01+01:00",
                  "2024-03-31 70 2:09:04 29 at 2024-03-31 03:19:11+02:00"}},
        // The clock goes back from 03:00 +02:00 to 02:00 +01:00: the hour read twice is one day, and of two
        // equal highest values the earlier in time counts, although its clock reads later.
        DaysCase{"FallBack",
                 ClockLines("2024-10-27 02:56:00", "+02:00", 2, [](int i) { return 8 + i; }) +
                     ClockLines("2024-10-27 02:00:02", "+01:00", 3, [](int i) { return (9 + i) % 10; }),
                 {"2024-10-27 5 0:08:04 9 at 2024-10-27 02:58:01+02:00"}},
        DaysCase{"NoNumberIsNoRunningAndNoHighest",
                 RecordLine("2024-03-05 10:00:00+08:00 nan 0123") +
                     RecordLine("2024-03-05 10:02:01+08:00 inf 0123"),
                 {"2024-03-05 2 0:00:00 none"}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

struct PeriodsCase {
    const char* name;
    double limit;
    std::vector<std::string> periods;  // start, end, duration, highest
};

// 100 records from 06:00:00, 121 s apart, record 95 missing. Above 250: 10..14 (300..304), 40 (260),
// 70..79 (400) but for 75 (250, not above), 90..99 (500) with its gap at 95.
std::string Planted() {
    auto value = [](int i) {
        if (i >= 10 && i <= 14) return 290 + i;
        if (i == 40) return 260;
        if (i == 75) return 250;
        if (i >= 70 && i <= 79) return 400;
        if (i >= 90) return 500;
        return 100;
    };
    return ClockLines("2024-03-05 06:00:00", "+08:00", 95, value) +
           ClockLines("2024-03-05 09:13:36", "+08:00", 4, [&](int i) { return value(96 + i); });
}

class PeriodsOf : public ::testing::TestWithParam<PeriodsCase> {};

TEST_P(PeriodsOf, BreakAtTheLimitAndAtGaps) {
    TempFolder folder;
    folder.Write(kFile, Planted());
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    const DeviceArchive& d = archive.devices.front();
    std::vector<std::string> periods;
    for (const LimitPeriod& p :
         PeriodsAbove(d, ChronologicalRecords(d, std::nullopt, std::nullopt), GetParam().limit)) {
        periods.push_back(RecordTimestamp(d.records[p.first]).substr(11, 8) + ' ' +
                          RecordTimestamp(d.records[p.last]).substr(11, 8) + ' ' + DurationText(p.seconds) +
                          ' ' + std::to_string(static_cast<int>(p.highest)));
    }
    EXPECT_EQ(periods, GetParam().periods);
}

INSTANTIATE_TEST_SUITE_P(
    Planted, PeriodsOf,
    ::testing::Values(PeriodsCase{"At250",
                                  250,
                                  {"06:20:10 06:28:14 0:10:05 304", "07:20:40 07:20:40 0:02:01 260",
                                   "08:21:10 08:29:14 0:10:05 400", "08:33:16 08:39:19 0:08:04 400",
                                   "09:01:30 09:09:34 0:10:05 500", "09:13:36 09:19:39 0:08:04 500"}},
                      PeriodsCase{
                          "At450", 450, {"09:01:30 09:09:34 0:10:05 500", "09:13:36 09:19:39 0:08:04 500"}},
                      PeriodsCase{"AboveAll", 500, {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace korvel::testing
