// SPDX-License-Identifier: MIT
// UTF-8 validation and conversion against the independent vectors, and round trips.
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <random>

#include "support/vectors.h"

namespace korvel {
namespace {

using testing::HexBytes;
using testing::HexUnits;

TEST(Utf8Vectors, EveryRowValidatesAndConvertsAsListed) {
    const auto rows = testing::ReadVectors("utf8.tsv");
    ASSERT_GT(rows.size(), 100u);
    for (const auto& row : rows) {
        ASSERT_EQ(row.fields.size(), 3u) << "utf8.tsv line " << row.line;
        const std::string bytes = HexBytes(row.fields[0]);
        EXPECT_EQ(IsValidUtf8(bytes.c_str()), row.fields[1] == "1") << "utf8.tsv line " << row.line;
        EXPECT_EQ(Utf8ToWide(bytes), HexUnits(row.fields[2])) << "utf8.tsv line " << row.line;
    }
}

TEST(Utf8Vectors, ValidRowsRoundTripExactly) {
    for (const auto& row : testing::ReadVectors("utf8.tsv")) {
        std::string bytes = HexBytes(row.fields[0]);
        bytes = bytes.substr(0, bytes.find('\0'));
        if (row.fields[1] == "1") {
            EXPECT_EQ(WideToUtf8(Utf8ToWide(bytes)), bytes) << "line " << row.line;
        }
    }
}

TEST(Utf8ToWide, ReplacesEachMaximalSubpartOnce) {
    struct Case {
        std::string bytes;
        std::u16string text;
    } const cases[] = {
        {"", u""},
        {"\x41\xFF\x42", u"A\uFFFDB"},
        {"\xE8\xAF", u"\uFFFD"},              // cut three-byte character: one replacement
        {"\xE8\xAF\x41", u"\uFFFDA"},         // the byte that breaks the sequence is kept
        {"\xF0\x9F\x98\x80", u"\U0001F600"},  // beyond the BMP: a surrogate pair
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {std::string("A\0B", 3), u"A"},  // a NUL ends the text
    };
    for (const auto& c : cases) EXPECT_EQ(Utf8ToWide(c.bytes), c.text) << ::testing::PrintToString(c.bytes);
}

TEST(WideToUtf8, EncodesTextAndReplacesUnpairedSurrogates) {
    struct Case {
        std::u16string text;
        std::string bytes;
    } const cases[] = {
        {u"", ""},
        {u"读数据", "\xE8\xAF\xBB\xE6\x95\xB0\xE6\x8D\xAE"},
        {u"\u00E9\u07FF\u0800\uFFFF", "\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {std::u16string(1, char16_t{0xD800}), "\xEF\xBF\xBD"},  // lone high surrogate
        {std::u16string{char16_t{0xDC00}, u'A'},
         "\xEF\xBF\xBD"
         "A"},  // lone low surrogate
        {std::u16string{char16_t{0xD800}, char16_t{0xD800}}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::u16string(u"get\0tail", 8), "get"},  // a NUL ends the text
    };
    for (const auto& c : cases) EXPECT_EQ(WideToUtf8(c.text), c.bytes) << ::testing::PrintToString(c.bytes);
}

TEST(IsValidUtf8, AcceptsOnlyTheListedSingleBytes) {
    EXPECT_FALSE(IsValidUtf8(nullptr));
    EXPECT_TRUE(IsValidUtf8(""));
    for (int b = 1; b < 0x80; ++b) {
        const char s[2] = {static_cast<char>(b), 0};
        const bool expected = b == 0x09 || b == 0x0A || b == 0x0D || (b >= 0x20 && b <= 0x7E);
        EXPECT_EQ(IsValidUtf8(s), expected) << "byte " << b;
    }
}

TEST(IsValidUtf8, MultiByteRowsAtTheirBoundaries) {
    struct Case {
        const char* bytes;
        bool valid;
    } const cases[] = {
        {"\xC1\xBF", false},         {"\xC2\x80", true},          {"\xDF\xBF", true},
        {"\xC2\xC0", false},         {"\xE0\x9F\xBF", false},     {"\xE0\xA0\x80", true},
        {"\xED\x9F\xBF", true},      {"\xED\xA0\x80", false},     {"\xEE\x80\x80", true},
        {"\xEF\xBF\xBF", true},      {"\xF0\x8F\xBF\xBF", false}, {"\xF0\x90\x80\x80", true},
        {"\xF3\xBF\xBF\xBF", true},  {"\xF4\x8F\xBF\xBF", true},  {"\xF4\x90\x80\x80", false},
        {"\xF5\x80\x80\x80", false}, {"\xE8\xAF", false},         {"\xF0\x90\x80", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << ::testing::PrintToString(c.bytes);
}

// Every code point (surrogates excepted) survives text -> bytes -> text, and its bytes are valid.
TEST(Utf8RoundTrip, EveryCodePoint) {
    for (char32_t cp = 0x20; cp <= 0x10FFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        if (cp == 0x7F) continue;  // valid UTF-8, but not accepted by the strict validator
        std::u16string text;
        if (cp < 0x10000) {
            text.push_back(static_cast<char16_t>(cp));
        } else {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        }
        const std::string bytes = WideToUtf8(text);
        ASSERT_TRUE(IsValidUtf8(bytes.c_str())) << "U+" << std::hex << static_cast<uint32_t>(cp);
        ASSERT_EQ(Utf8ToWide(bytes), text) << "U+" << std::hex << static_cast<uint32_t>(cp);
    }
}

// Whatever the bytes, the converted text encodes back to well-formed UTF-8.
TEST(Utf8RoundTrip, RandomBytesGiveWellFormedText) {
    std::mt19937 rng(20220730);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes(rng() % 12, '\0');
        for (auto& b : bytes) b = static_cast<char>(rng() % 2 ? 0x80 + rng() % 0x80 : 0x20 + rng() % 0x5F);
        const std::string back = WideToUtf8(Utf8ToWide(bytes));
        ASSERT_TRUE(IsValidUtf8(back.c_str())) << ::testing::PrintToString(bytes);
        if (IsValidUtf8(bytes.c_str())) {
            ASSERT_EQ(back, bytes);
        }
    }
}

}  // namespace
}  // namespace korvel
