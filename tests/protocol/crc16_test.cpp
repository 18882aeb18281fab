// SPDX-License-Identifier: MIT
// Crc16 against the independent vectors and the bitwise definition.
#include "protocol/crc16.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "protocol/checked_line.h"
#include "support/vectors.h"

namespace korvel {
namespace {

// The one-bit-at-a-time definition, for comparing the fast one against.
uint16_t BitwiseCrc16(const std::string& bytes) {
    uint16_t reg = 0xFFFF;
    for (unsigned char b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : (reg >> 1);
    }
    return reg;
}

TEST(Crc16, MatchesEveryVector) {
    const auto rows = testing::ReadVectors("crc16.tsv");
    ASSERT_GT(rows.size(), 100u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.fields.size(), 2u) << "crc16.tsv line " << row.line;
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x", Crc16(testing::HexBytes(row.fields[0])));
        EXPECT_EQ(hex, row.fields[1]) << "crc16.tsv line " << row.line;
    }
}

TEST(Crc16, CheckValuesAndEmptyInput) {
    EXPECT_EQ(Crc16("123456789"), 0x4B37);
    EXPECT_EQ(Crc16("2022-07-30 10:15:42+08:00 125 0123"), 0xCBA8);
    EXPECT_EQ(Crc16(""), 0xFFFF);
    const uint8_t byte = 0x31;
    EXPECT_EQ(Crc16(&byte, 0), 0xFFFF);
    EXPECT_EQ(Crc16(&byte, -5), 0xFFFF);
}

// Every length and alignment through the sixteen- and four-byte steps and the tail.
TEST(Crc16, AgreesWithTheBitwiseDefinitionAtEveryLengthAndOffset) {
    std::mt19937 rng(4);
    std::string data(300, '\0');
    for (auto& b : data) b = static_cast<char>(rng());
    for (size_t offset = 0; offset < 8; ++offset) {
        for (size_t length = 0; offset + length <= data.size(); ++length) {
            const std::string piece = data.substr(offset, length);
            ASSERT_EQ(Crc16(piece), BitwiseCrc16(piece)) << "offset " << offset << " length " << length;
        }
    }
}

// A head folded in first and the rest after it gives the checksum of the whole, wherever it is cut.
TEST(Crc16, ContinuedFromAHeadAgreesAtEverySplit) {
    const std::string line = "2022-07-30 10:15:42+08:00 125 0123 and some more text to pass sixteen bytes";
    for (size_t cut = 0; cut <= line.size(); ++cut) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(line.data());
        const uint16_t head = Crc16(bytes, static_cast<int32_t>(cut));
        ASSERT_EQ(Crc16Update(head, bytes + cut, static_cast<int32_t>(line.size() - cut)), BitwiseCrc16(line))
            << "cut at " << cut;
    }
}

// Texts of every length up to a few words, equal or with one byte changed anywhere in them.
TEST(SameShortText, FindsADifferenceAtEveryLengthAndPlace) {
    const std::string text = "0123456789abcdefghijklm";
    for (size_t length = 0; length <= text.size(); ++length) {
        const std::string a = text.substr(0, length);
        ASSERT_TRUE(SameShortText(a, std::string(a))) << length;
        ASSERT_FALSE(SameShortText(a, a + "x")) << length;
        for (size_t at = 0; at < length; ++at) {
            std::string b = a;
            b[at] ^= 0x20;
            ASSERT_FALSE(SameShortText(a, b)) << "length " << length << " at " << at;
        }
    }
}

}  // namespace
}  // namespace korvel
