// SPDX-License-Identifier: MIT
// The shaping of standard output on Windows: UTF-8 cut where a console write may end, CR before LF once.
#include <gtest/gtest.h>

#include <string>

#include "console_text.h"

namespace korvel::cli {
namespace {

TEST(ConsoleText, CompleteUtf8LengthHoldsBackOnlyAnUnfinishedSequence) {
    const struct {
        const char* bytes;
        size_t complete;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"\xe4\xbf\x9d", 3},      // 保, whole
        {"a\xe4\xbf", 1},         // 保 cut after two of its three bytes
        {"a\xe4", 1},             // ... after one
        {"\xf0\x9f\x98\x80", 4},  // a four-byte sequence, whole
        {"x\xf0\x9f\x98", 1},     // ... cut after three
        {"\xc3\xa9\xc3", 2},      // é then a cut é
        {"a\x80", 2},             // a stray continuation byte can never complete: not held
        {"a\xff", 2},             // nor a byte that leads nothing
        {"a\xc0", 2},             // nor an overlong lead
        {"\x80\x80\x80", 3},      // three continuations with no lead in reach
    };
    for (const auto& c : cases)
        EXPECT_EQ(CompleteUtf8Length(c.bytes), c.complete) << testing::PrintToString(std::string(c.bytes));
}

TEST(ConsoleText, EveryLineEndGetsExactlyOneCarriageReturnAcrossPieces) {
    bool after_cr = false;
    std::string out;
    for (const char* piece : {"a\nb\r\n", "c\r", "\nd\n\n", "e\r\r\n"})
        out += WithCarriageReturns(piece, after_cr);
    EXPECT_EQ(out, "a\r\nb\r\nc\r\nd\r\n\r\ne\r\r\n");
}

TEST(ConsoleText, AProgressLineIsBlankedOverTheCellsItTakes) {
    const struct {
        const char* text;
        size_t columns;
    } cases[] = {
        {"", 0},
        {"42%", 3},
        {"\xe8\xaf\xbb\xe5\x8f\x96\xe4\xb8\xad 42%", 10},  // 读取中: two cells each, then four
        {"\xef\xbc\x85", 2},                               // a full-width percent sign
        {"\xc3\xa9t\xc3\xa9", 3},                          // accented letters: one cell each
        {"a\tb\x1b", 2},                                   // controls take none
        {"\xf0\x9f\x98\x80", 1},                           // outside the wide ranges: one
    };
    for (const auto& c : cases) EXPECT_EQ(ConsoleColumns(c.text), c.columns) << c.text;
    EXPECT_EQ(BlankedLine(3), "\r   \r");
    EXPECT_EQ(BlankedLine(500), "\r" + std::string(79, ' ') + "\r");  // never wraps onto a second line
}

}  // namespace
}  // namespace korvel::cli
