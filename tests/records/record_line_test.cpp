// SPDX-License-Identifier: MIT
// The record-line check over a run of lines through one checker, as a file is read: what a line shares
// with the one before it (its date and hour, its offset, its product field) must never carry a verdict
// or a time over to a line that differs from it.
#include "records/record_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "protocol/crc16.h"

namespace korvel {
namespace {

std::string Checked(const std::string& text) {
    char crc[8];
    std::snprintf(crc, sizeof crc, " %04x", Crc16(text));
    return text + crc;
}

struct Row {
    std::string line;
    LineDamage damage;
    int64_t clock;  // seconds of the clock time, for a record (worked out independently)
    int offset;
};

TEST(RecordLineChecker, NeighbouringLinesShareNothingButWhatIsTheSame) {
    constexpr LineDamage kOk = LineDamage::kNone, kNot = LineDamage::kNotARecord;
    const Row rows[] = {
        {Checked("2024-03-05 00:00:00+08:00 1 0123"), kOk, 1709596800, 480},
        // The head "2024-03-05 00:" as before, the rest wrong.
        {Checked("2024-03-05 00:60:00+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 00:5x:00+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 00:00:60+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 00:00-00+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 00:00:00+08:0x 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 00:59:59+08:00 1 0123"), kOk, 1709600399, 480},
        {Checked("2024-03-05 00:59:59+08:00 1 0123").replace(26, 1, "2"), LineDamage::kChecksumMismatch, 0,
         0},
        {Checked("short"), kNot, 0, 0},
        {Checked("2024-03-05 00:59:59-00:00 1 0123"), kOk, 1709600399, 0},
        // A head that is no date and hour, then one that is.
        {Checked("2024-03-05 24:00:00+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-02-30 23:00:01+08:00 1 0123"), kNot, 0, 0},
        {Checked("2024-03-05 23:00:01+08:00 1 0123"), kOk, 1709679601, 480},
        {Checked("2024-02-29 23:59:59+05:30 7 0123"), kOk, 1709251199, 330},
        {Checked("2024-02-29 23:59:59+05:30 7 0456"), LineDamage::kOtherProduct, 0, 0},
        {Checked("2023-12-31 01:02:03-01:00 -4 123"), kOk, 1703984523, -60},
    };
    RecordLineChecker checker;
    checker.ExpectProduct(123);
    for (const Row& row : rows) {
        const RecordLine got = checker.Check(row.line);
        EXPECT_EQ(got.damage, row.damage) << row.line;
        if (row.damage != kOk || got.damage != kOk) continue;
        EXPECT_EQ(got.clock, row.clock) << row.line;
        EXPECT_EQ(got.offset, row.offset) << row.line;
        EXPECT_EQ(got.minus_zero, row.line.find("-00:00") != std::string::npos) << row.line;
    }
}

// The one reading of a product field: the line's, the device's "info" answer's and --product's.
TEST(ProductFieldNumber, DigitsOrANegativeNumberAsItsUnsigned32BitForm) {
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"0123", 123u},
        {"123", 123u},
        {"0", 0u},
        {"4294967295", 4294967295u},
        {"-1", 4294967295u},
        {"-2147483648", 2147483648u},
        {"4294967296", std::nullopt},
        {"-2147483649", std::nullopt},
        {"-0", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"123x", std::nullopt},
        {"+123", std::nullopt},
        {" 123", std::nullopt},
        {"000000000000000000123", std::nullopt},  // longer than any field the device writes
    };
    for (const auto& [field, number] : cases) EXPECT_EQ(ProductFieldNumber(field), number) << field;
}

}  // namespace
}  // namespace korvel
