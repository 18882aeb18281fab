// SPDX-License-Identifier: MIT
// The archive read from files written here: records, gaps, set-backs, damage (its export formats:
// tests/views/archive_data_test.cpp).
// The same on folders that the simulator's downloads fill: tests/cli/archive_test.cpp. Links and names
// with quotes: archive_posix_test.cpp.
#include "archive/archive.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "protocol/crc16.h"
#include "records/record_line.h"
#include "support/record_lines.h"
#include "support/temp_folder.h"
#include "views/archive_text.h"

namespace korvel::testing {
namespace {

std::string Checked(const std::string& text) {
    char crc[8];
    std::snprintf(crc, sizeof crc, " %04x\n", Crc16(text));
    return text + crc;
}

// A record `seconds` after 2024-03-05 00:00:00 (a day before it at most) at the given offset.
std::string Rec(int seconds, int value = 100, const std::string& product = "0123",
                const char* offset = "+08:00") {
    seconds += 86400;
    char text[96];
    std::snprintf(text, sizeof text, "2024-03-%02d %02d:%02d:%02d%s %d %s", 4 + seconds / 86400,
                  seconds / 3600 % 24, seconds / 60 % 60, seconds % 60, offset, value, product.c_str());
    return Checked(text);
}

// Records first, first + 1, ... last, 121 s apart.
std::string Records(int first, int last, int shift = 0) {
    std::string lines;
    for (int i = first; i <= last; ++i) lines += Rec(i * 121 + shift, i);
    return lines;
}

std::string Flip(std::string lines, size_t line) {
    size_t at = 0;
    for (size_t i = 1; i < line; ++i) at = lines.find('\n', at) + 1;
    lines[at + 3] ^= 1;
    return lines;
}

struct File {
    std::string name;
    std::string bytes;
};

struct Case {
    const char* name;
    std::vector<File> files;
    std::vector<std::string> summary;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::vector<std::string> Summary(const Archive& archive) {
    std::vector<std::string> lines;
    for (const DeviceArchive& d : archive.devices) {
        lines.push_back("product " + std::to_string(d.product) + ": files " + std::to_string(d.files.size()) +
                        ", valid " + std::to_string(d.valid_lines) + ", records " +
                        std::to_string(d.records.size()) +
                        (d.HasInterval() ? ", every " + std::to_string(d.interval) + " s" : ", no interval") +
                        (d.records.empty() ? ""
                                           : ", " + RecordTimestamp(d.records[d.earliest]) + " … " +
                                                 RecordTimestamp(d.records[d.newest])));
        for (const ArchiveGap& g : d.gaps) {
            lines.push_back("gap " + RecordTimestamp(d.records[g.before]) + " to " +
                            RecordTimestamp(d.records[g.after]) + ": " + std::to_string(g.missing));
        }
        for (const ClockJump& j : d.jumps) {
            lines.push_back("set back " + archive.files[j.where.file].relative + ":" +
                            std::to_string(j.where.line) + " to " + RecordTimestamp(d.records[j.after]));
        }
        for (const DamagedLine& l : d.damaged) {
            lines.push_back("damaged " + archive.files[l.where.file].relative + ":" +
                            std::to_string(l.where.line) + " " + l.reason);
        }
        for (const auto& [a, b] : d.conflicts) {
            lines.push_back("conflict " + RecordTimestamp(d.records[a]) + " " +
                            archive.files[d.records[a].file].relative + " " +
                            archive.files[d.records[b].file].relative);
        }
        for (const std::string& problem : d.unreadable) lines.push_back("unreadable " + problem);
        for (const NoNumberLine& l : d.no_number) {
            std::string scratch;
            lines.push_back("no number " + archive.files[l.where.file].relative + ":" +
                            std::to_string(l.where.line) + " " +
                            std::string(RecordValue(d, d.records[l.record], scratch)));
        }
    }
    for (const std::string& problem : archive.problems) lines.push_back("problem " + problem);
    return lines;
}

class ArchiveCase : public ::testing::TestWithParam<Case> {};

TEST_P(ArchiveCase, SummarisesEachDevice) {
    TempFolder folder;
    for (const File& file : GetParam().files) folder.Write(file.name, file.bytes);
    EXPECT_EQ(Summary(ReadArchive(folder.path())), GetParam().summary);
}

constexpr const char* kA = "240305-010000-123-7b.txt";
constexpr const char* kB = "240305-020000-123-7b.txt";
constexpr const char* kC = "240305-030000-123-7b.txt";

std::string Long() { return std::string(5000, 'x') + Rec(0).substr(Rec(0).size() - 6); }
std::string UpperCase(std::string line) {
    for (size_t i = line.size() - 5; i < line.size(); ++i) line[i] = static_cast<char>(std::toupper(line[i]));
    return line;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ArchiveCase,
    ::testing::Values(
        Case{"IncrementalRepeatsTheStopRecord",
             {{kA, Records(0, 4)}, {kB, Records(4, 7)}},
             {"product 123: files 2, valid 9, records 8, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:14:07+08:00"}},
        Case{"RemovedFileLeavesAGapWithItsBounds",
             {{kA, Records(0, 4)}, {kC, Records(10, 12)}},
             {"product 123: files 2, valid 8, records 8, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:24:12+08:00",
              "gap 2024-03-05 00:08:04+08:00 to 2024-03-05 00:20:10+08:00: 5"}},
        Case{"ClockSetBackIsAJumpAndNoLoss",
             {{kA, Records(0, 3) + Records(4, 6, -3600)}},
             {"product 123: files 1, valid 7, records 7, every 121 s, 2024-03-04 23:08:04+08:00 … "
              "2024-03-05 00:06:03+08:00",
              "set back " + std::string(kA) + ":5 to 2024-03-04 23:08:04+08:00"}},
        Case{"DamagedLineIsNamedAndItsRecordMissing",
             {{kA, Flip(Records(0, 4), 3)}},
             {"product 123: files 1, valid 4, records 4, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:08:04+08:00",
              "gap 2024-03-05 00:02:01+08:00 to 2024-03-05 00:06:03+08:00: 1",
              "damaged " + std::string(kA) + ":3 checksum mismatch"}},
        Case{"ALineOfAnotherProductIsDamageNotAnotherDevice",
             {{kA, Rec(0) + Rec(30, 7, "0456") + Rec(121) + Rec(150, 9, "12a")},
              {"sub/240305-010000-456-1c8.txt", Rec(151, 8, "456")}},
             {"product 123: files 1, valid 2, records 2, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:02:01+08:00",
              "damaged " + std::string(kA) + ":2 the product number 0456 is not the file's 123",
              "damaged " + std::string(kA) + ":4 the product number 12a is not the file's 123",
              "product 456: files 1, valid 1, records 1, no interval, 2024-03-05 00:02:31+08:00 … "
              "2024-03-05 00:02:31+08:00"}},
        Case{"AWrongPcClockInTheNameCannotHideAGap",
             // The second download was saved while the PC clock read 2020: its name sorts first.
             {{kA, Records(0, 9)}, {"200101-000000-123-7b.txt", Records(110, 120)}},
             {"product 123: files 2, valid 21, records 21, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 04:02:00+08:00",
              "gap 2024-03-05 00:18:09+08:00 to 2024-03-05 03:41:50+08:00: 100"}},
        Case{"ADownloadFollowsTheOneWhoseLastRecordItRepeats",
             // Named earlier, but it begins with kA's last record; then the clock was set back.
             {{kA, Records(0, 4)}, {"240305-000000-123-7b.txt", Rec(4 * 121, 4) + Records(5, 7, -3600)}},
             {"product 123: files 2, valid 9, records 8, every 121 s, 2024-03-04 23:10:05+08:00 … "
              "2024-03-05 00:08:04+08:00",
              "set back 240305-000000-123-7b.txt:2 to 2024-03-04 23:10:05+08:00"}},
        Case{"ProductNumbersAboveTwoBillionStayApart",
             {{"240305-010000-3000000000-b2d05e00.txt", Rec(0, 1, "3000000000")},
              {"240305-010000-4000000000-ee6b2800.txt", Rec(0, 2, "4000000000")}},
             {"product 3000000000: files 1, valid 1, records 1, no interval, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:00:00+08:00",
              "product 4000000000: files 1, valid 1, records 1, no interval, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:00:00+08:00"}},
        Case{"AByteOrderMarkIsSkipped",
             {{kA, "\xEF\xBB\xBF" + Records(0, 2)}},
             {"product 123: files 1, valid 3, records 3, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:04:02+08:00"}},
        Case{"TwoRecordsOfOneSecondConflictAndStay",
             {{kA, Records(0, 2)}, {kB, Rec(242, 99)}},
             {"product 123: files 2, valid 4, records 4, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:04:02+08:00",
              "conflict 2024-03-05 00:04:02+08:00 " + std::string(kA) + " " + kB}},
        Case{"DownloadOrderFollowsTheYearInTheName",
             // 2009 is written with one digit, so by name alone the 2010 file would come first.
             {{"100101-000000-123-7b.txt", Records(3, 5)}, {"91231-000000-123-7b.txt", Records(0, 3)}},
             {"product 123: files 2, valid 7, records 6, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:10:05+08:00"}},
        Case{"SameRecordInManyFilesAndDigitCases",
             {{kA, Records(0, 2)},
              {kB, UpperCase(Rec(242, 2)) + Rec(363, 3)},
              {"copy/" + std::string(kB), Records(2, 3)}},
             {"product 123: files 3, valid 7, records 4, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:06:03+08:00"}},
        Case{"EveryKindOfDamage",
             {{kA, Rec(0) + "\n" + Rec(121).insert(Rec(121).size() - 1, "\r") + Long() +
                       Rec(242).replace(Rec(242).size() - 3, 1, "g") + "no checksum\n" +
                       Checked("2024-02-30 00:00:00+08:00 1 0123") + Checked("2024-03-05 00:00:00 1 0123") +
                       Checked("2024-03-05 00:00:00+08:00 1 2 0123") + Rec(121)}},
             {"product 123: files 1, valid 2, records 2, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:02:01+08:00",
              "damaged " + std::string(kA) + ":2 empty line",
              "damaged " + std::string(kA) + ":3 the line ends in CR; record lines end in LF alone",
              "damaged " + std::string(kA) + ":4 far too long for a record line",
              "damaged " + std::string(kA) + ":5 the checksum is not four hexadecimal digits",
              "damaged " + std::string(kA) + ":6 no checksum at the end of the line",
              "damaged " + std::string(kA) +
                  ":7 not a record line of the form YYYY-MM-DD hh:mm:ss+hh:mm VALUE PRODUCT",
              "damaged " + std::string(kA) +
                  ":8 not a record line of the form YYYY-MM-DD hh:mm:ss+hh:mm VALUE PRODUCT",
              "damaged " + std::string(kA) + ":9 more fields than date, time, value and product"}},
        Case{"OtherFilesAreNotRead",
             {{"notes.txt", "x\n"},
              {"240305-010000-123-7c.txt", "x\n"},
              {"240305-010000-123-7b.txt.bak", "x\n"}},
             {}},
        Case{"ValuesThatAreNoNumberAreListedOnceWhereFirstRead",
             // The stop record repeated by the next download is one record; 1.5 and -3 are numbers.
             {{kA, Records(0, 2) + Checked("2024-03-05 00:06:03+08:00 nan 0123")},
              {kB, Checked("2024-03-05 00:06:03+08:00 nan 0123") +
                       Checked("2024-03-05 00:08:04+08:00 1.5 0123") +
                       Checked("2024-03-05 00:10:05+08:00 <b>x</b> 0123") +
                       Checked("2024-03-05 00:12:06+08:00 -3 0123")}},
             {"product 123: files 2, valid 8, records 7, every 121 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:12:06+08:00",
              "no number " + std::string(kA) + ":4 nan", "no number " + std::string(kB) + ":3 <b>x</b>"}},
        Case{"TwoFilesOfOneRecordEachShowNoIntervalAndNoGap",
             {{kA, Rec(0)}, {kB, Rec(3600)}},
             {"product 123: files 2, valid 2, records 2, no interval, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 01:00:00+08:00"}},
        Case{"UsualIntervalIsTheCommonestStep",
             {{kA, Rec(0) + Rec(60) + Rec(120) + Rec(180) + Rec(300) + Rec(330)}},
             {"product 123: files 1, valid 6, records 6, every 60 s, 2024-03-05 00:00:00+08:00 … "
              "2024-03-05 00:05:30+08:00",
              "gap 2024-03-05 00:03:00+08:00 to 2024-03-05 00:05:00+08:00: 1"}}),
    [](const ::testing::TestParamInfo<Case>& param_info) { return std::string(param_info.param.name); });

TEST(Archive, AMissingFolderIsReported) {
    TempFolder folder;
    const Archive missing = ReadArchive(folder.path() + "/absent");
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_NE(missing.problems[0].find(folder.path() + "/absent: "), std::string::npos)
        << missing.problems[0];
    EXPECT_FALSE(missing.Complete());
}

TEST(Archive, DamageIsListedAHundredLinesPerFileAndCountedBeyond) {
    struct Row {
        const char* name;
        std::string bytes;
        size_t listed, total;
    };
    std::string crlf;
    for (int i = 0; i < 1000; ++i) crlf += Rec(i * 121, i).insert(Rec(i * 121, i).size() - 1, "\r");
    const Row rows[] = {
        {"newlines", Rec(0) + std::string(150, '\n') + Rec(121), 100, 150},
        {"crlf", crlf, 100, 1000},
        {"few", Rec(0) + "\n\n", 2, 2},
    };
    for (const Row& row : rows) {
        TempFolder folder;
        folder.Write(kA, row.bytes);
        const Archive archive = ReadArchive(folder.path());
        ASSERT_EQ(archive.devices.size(), 1u) << row.name;
        EXPECT_EQ(archive.devices[0].damaged.size(), row.listed) << row.name;
        EXPECT_EQ(archive.devices[0].DamagedLines(), row.total) << row.name;
        EXPECT_FALSE(archive.devices[0].Complete()) << row.name;
    }
}

// More files than are read ahead at once, two devices taking turns, each file beginning with the record
// the device's file before ended with: every record once, in order, with the first file that holds it.
TEST(Archive, ManyFilesOfTwoDevicesMergeInTheirOrder) {
    constexpr int kFilesEach = 150, kPerFile = 5;
    TempFolder folder;
    for (int k = 0; k < 2 * kFilesEach; ++k) {
        const int j = k / 2;
        const std::string product = k % 2 ? "0124" : "0123";
        std::string lines;
        for (int r = j * kPerFile; r <= (j + 1) * kPerFile; ++r) lines += Rec(r * 121, r, product);
        folder.Write(RecordFileName(k, k % 2 ? 124 : 123), lines);
    }
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 2u);
    for (const DeviceArchive& d : archive.devices) {
        const int parity = d.product == 124;
        EXPECT_TRUE(archive.Complete(d)) << d.product;
        EXPECT_EQ(d.valid_lines, size_t{kFilesEach * (kPerFile + 1)});
        ASSERT_EQ(d.records.size(), size_t{kFilesEach * kPerFile + 1}) << d.product;
        for (int r = 0; r < static_cast<int>(d.records.size()); ++r) {
            const int first_file = 2 * (r == 0 ? 0 : (r - 1) / kPerFile) + parity;
            ASSERT_EQ(d.records[r].value, r) << d.product;
            ASSERT_EQ(archive.files[d.records[r].file].relative, RecordFileName(first_file, d.product)) << r;
        }
    }
}

TEST(ArchiveExport, ChronologicalByUtcWithBoundsInEitherClock) {
    TempFolder folder;
    // The same clock time at two offsets is two records; the +09:00 one happened an hour earlier.
    folder.Write(kA, Rec(3600, 1) + Rec(7200, 2));
    folder.Write(kB, Rec(3600, 3, "0123", "+09:00"));
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    const DeviceArchive& d = archive.devices[0];
    auto values = [&](std::optional<TimeBound> from, std::optional<TimeBound> to) {
        std::string out;
        for (size_t i : ChronologicalRecords(d, from, to)) out += std::to_string(d.records[i].value);
        return out;
    };
    EXPECT_EQ(values({}, {}), "312");
    EXPECT_EQ(values(ParseTimeBound("2024-03-05 01:00", false), ParseTimeBound("2024-03-05 01:00", true)),
              "31");
    EXPECT_EQ(values(ParseTimeBound("2024-03-04T17:00:00Z", false), {}), "12");
    EXPECT_EQ(values({}, ParseTimeBound("2024-03-05 01:59:59+08:00", true)), "31");
    EXPECT_EQ(values(ParseTimeBound("2024-03-06", false), {}), "");
}

TEST(ArchiveExport, TimeBoundsAcceptTheDocumentedFormsOnly) {
    for (const char* good : {"2024-03-05", "2024-03-05 07:08", "2024-03-05T07:08:09", "2024-03-05 07:08:09Z",
                             "2024-03-05 07:08+08:00", "2024-03-05T07:08:09-03:30"})
        EXPECT_TRUE(ParseTimeBound(good, false)) << good;
    for (const char* bad : {"", "2024-3-5", "2024-02-30", "2024-03-05 24:00", "2024-03-05 07:08:09 +08",
                            "2024-03-05_07:08", "yesterday", "2024-03-05 07:08:09+0800"})
        EXPECT_FALSE(ParseTimeBound(bad, false)) << bad;
    EXPECT_EQ(ParseTimeBound("2024-03-05", true)->seconds - ParseTimeBound("2024-03-05", false)->seconds,
              86399);
}

TEST(PendingRecords, CountsSinceTheNewestSavedAndTheRingsTurn) {
    struct Row {
        const char* saved;
        const char* now;
        int count;
        std::optional<PendingRecords> expected;
    };
    const Row rows[] = {
        {"2024-03-05 07:00:00", "2024-03-05 07:00:00", 100, PendingRecords{0, 0, 0}},
        {"2024-03-05 07:00:00", "2024-03-05 07:02:00", 100, PendingRecords{0, 0, 0}},  // the next is not due
        {"2024-03-05 07:00:00", "2024-03-05 07:02:01", 100, PendingRecords{1, 0, 32767 * 121 / 86400.0}},
        {"2024-03-05 07:00:00", "2024-03-05 08:00:30", 100, PendingRecords{30, 0, 32738 * 121 / 86400.0}},
        // More taken than the device holds: the difference was overwritten before anyone came.
        {"2024-01-01 00:00:00", "2024-03-05 00:00:00", 32767,
         PendingRecords{32767, 64 * 86400 / 121 - 32767, 121 / 86400.0}},
        // A ring that is not full has overwritten nothing, whatever the interval suggests.
        {"2024-01-01 00:00:00", "2024-03-05 00:00:00", 100, PendingRecords{100, 0, 32668 * 121 / 86400.0}},
        {"2024-03-05 07:00:00", "2024-03-05 06:00:00", 100, std::nullopt},  // clock set back since
    };
    for (const Row& row : rows) {
        const std::optional<PendingRecords> got = EstimatePending(
            *ParseClockTime(row.saved, ' '), *ParseClockTime(row.now, ' '), row.count, kSecondsPerRecord);
        ASSERT_EQ(got.has_value(), row.expected.has_value()) << row.now;
        if (!got) continue;
        EXPECT_EQ(got->records, row.expected->records) << row.now;
        EXPECT_EQ(got->lost, row.expected->lost) << row.now;
        EXPECT_NEAR(got->days, row.expected->days, 1e-9) << row.now;
    }
}

// The oldest pending record goes exactly at midnight: its day is the one that begins then. 32,768 × 121 s
// after the newest record (2024-03-05 02:37:52) is 2024-04-20 00:00:00; 9 records are pending.
TEST(PendingRecords, TheOverwriteDayIsTheSecondsOwnDay) {
    TempFolder folder;
    folder.Write("240305-030000-123-7b.txt",
                 ClockLines("2024-03-05 02:33:50", "+00:00", 3, [](int) { return 1; }));
    const Archive archive = ReadArchive(folder.path());
    const int64_t newest = 1709606272;  // 2024-03-05 02:37:52 UTC
    const std::string text = ArchiveCheckText(archive, {newest + 9 * 121});
    EXPECT_NE(text.find("\u2248 9 records not yet downloaded; the oldest is overwritten about 2024-04-20\n"),
              std::string::npos)
        << text;
    EXPECT_NE(ArchiveCheckTextZh(archive, newest + 9 * 121).find("2024-04-20"), std::string::npos);
}

}  // namespace
}  // namespace korvel::testing
