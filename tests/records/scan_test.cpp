// SPDX-License-Identifier: MIT
// The scan of saved record files: line validation, the greatest key, the head and tail windows, the folder
// tree. Writing the files is in record_file_test.cpp; links, pipes and names that are not UTF-8 in
// scan_posix_test.cpp.
#include "records/scan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "records/record_file.h"
#include "support/scan_tree.h"
#include "text/utf8.h"

namespace korvel {
namespace {

using testing::Line;
using testing::ScanTree;
using testing::TempFolder;
using testing::W;

std::u16string ScanText(const std::string& text, int n) {
    std::u16string last;
    ScanRecordText(W(text), n, last);
    return last;
}

TEST(RecordFilePattern, IsTheTailOfTheFileNames) {
    EXPECT_EQ(RecordFilePattern(123), u"-123-7b.txt");
    EXPECT_EQ(RecordFilePattern(0), u"-0-0.txt");
    EXPECT_EQ(RecordFilePattern(-1), u"--1-ffffffff.txt");
}

TEST(ValidateRecordLine, AcceptsOnlyWholeLinesOfTheProduct) {
    std::string good = Line("2022-07-30 10:15:42");
    good.pop_back();  // the LF
    std::string upper = good.substr(0, good.size() - 4) + "CBA8";
    std::string no_space = MakeRecordLine(u"x");
    no_space.pop_back();
    struct Case {
        std::string line;
        int n;
        std::string result;
    };
    const Case cases[] = {
        {good, 123, "2022-07-30 10:15:42+08:00 125"},
        {upper, 123, "2022-07-30 10:15:42+08:00 125"},
        {"2022-07-30 10:15:42+08:00 125 0123xcba8", 123,
         "2022-07-30 10:15:42+08:00 125"},                 // separator unchecked
        {good, 124, ""},                                   // another product
        {good.substr(0, good.size() - 1) + "9", 123, ""},  // wrong checksum
        {good + "\r", 123, ""},                            // CR LF file
        {"12345", 123, ""},
        {"", 123, ""},
        {"a cba8", 0, ""},
        {no_space, 0, ""},  // checksum right, but the body has no space
    };
    for (const Case& c : cases) EXPECT_EQ(ValidateRecordLine(W(c.line), c.n), W(c.result)) << c.line;
}

// The scan reads the product field as the archive and verify do: a field they call another product's
// ("123x", "+123") is no saved record of the device, so the download does not start after it.
TEST(ValidateRecordLine, ProductFieldIsReadAsTheArchiveReadsIt) {
    struct Case {
        std::string product;
        int n;
        bool valid;
    };
    const Case cases[] = {{"0123", 123, true},  {"123", 123, true},   {"0000", 0, true},
                          {"x", 0, false},      {"-1", -1, true},     {"4294967295", -1, true},
                          {"124", 123, false},  {"+123", 123, false}, {"0123abc", 123, false},
                          {"123x", 123, false}, {"-0", 0, false}};
    for (const Case& c : cases) {
        std::string line = Line("2022-07-30 10:15:42", c.product);
        line.pop_back();
        EXPECT_EQ(!ValidateRecordLine(W(line), c.n).empty(), c.valid) << c.product;
    }
}

TEST(ScanRecordText, KeepsTheGreatestKeyComparedAsText) {
    std::string text = Line("2022-07-30 09:59:59") + Line("2022-07-30 10:00:00") +
                       Line("2021-12-31 23:59:59") + "\n\n" + Line("2023-01-01 00:00:00", "0999");
    EXPECT_EQ(ScanText(text, 123), u"2022-07-30 10:00:00");
    EXPECT_EQ(ScanText(text, 999), u"2023-01-01 00:00:00");
    EXPECT_EQ(ScanText(text, 5), u"");
}

TEST(ScanRecordText, OnlyRaisesTheKey) {
    std::u16string last = u"2030-01-01 00:00:00";
    ScanRecordText(W(Line("2022-07-30 10:00:00")), 123, last);
    EXPECT_EQ(last, u"2030-01-01 00:00:00");
}

TEST(ScanRecordText, CrLfLinesContributeNothing) {
    std::string line = Line("2022-07-30 10:00:00");
    line.insert(line.size() - 1, "\r");
    EXPECT_EQ(ScanText(line + line, 123), u"");
}

TEST(ScanRecordText, ShortLinesGiveTheirWholeTextAsKey) {
    // A line whose text before the product is shorter than a timestamp still counts, as all of it.
    std::string line = MakeRecordLine(u"2022-07 5");
    EXPECT_EQ(ScanText(line, 5), u"2022-07");
}

// A file of exactly length bytes: filler that never validates, with one valid line placed at [start, ...).
// The valid line has no LF of its own; the bytes around it are LFs, or filler (before, after) when the
// valid text is only a piece of a longer line.
std::string Sized(size_t length, size_t start, const std::string& key, char before = '\n',
                  char after = '\n') {
    std::string line = Line(key);
    line.pop_back();
    std::string bytes(length, 'x');
    for (size_t i = 49; i < length; i += 50) bytes[i] = '\n';
    if (start > 0) bytes[start - 1] = before;
    bytes.replace(start, line.size(), line);
    if (start + line.size() < length) bytes[start + line.size()] = after;
    bytes.resize(length);
    return bytes;
}

TEST(ScanRecordFile, ReadsTheHeadAndTailWindowsOnly) {
    constexpr size_t kLine = 39;  // the valid line without its LF
    struct Case {
        size_t length;
        size_t start;
        bool found;
        const char* why;
        char before = '\n';
        char after = '\n';
    };
    const Case cases[] = {
        {2047, 2047 - kLine, true, "the whole file is the head window"},
        {2048, 0, true, "a line at the start is in the head"},
        {2048, 2048 - kLine, true, "the head misses its last digit, the tail has it"},
        {4094, 2047, true, "the tail starts at byte 2047"},
        {4094, 2047 - 20, false, "cut by both windows"},
        {4095, 2048, true, "the tail starts at byte 2048"},
        {4095, 2047, false, "byte 2047 is in neither window"},
        {4095, 4095 - kLine, true, "the last line is in the tail"},
        {100000, 100000 - kLine, true, "the last line of a long file"},
        {100000, 50000, false, "the middle of a long file is not read"},
        // A window's edge inside a line: the piece it leaves is no line of the file.
        {4094, 2047, false, "the tail starts inside a line whose end reads as a valid line", 'x'},
        {4094, 2047 - kLine, false, "the head ends inside a line whose start reads as a valid line", '\n',
         'x'},
        {4094, 2047 - kLine, true, "the head ends where its last line ends"},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        std::string path =
            folder.Write("f-123-7b.txt", Sized(c.length, c.start, "2022-07-30 10:15:42", c.before, c.after));
        ASSERT_EQ(std::filesystem::file_size(path), c.length);
        std::u16string last;
        EXPECT_TRUE(ScanRecordFile(W(path), 123, last));
        EXPECT_EQ(last == u"2022-07-30 10:15:42", c.found) << c.length << " " << c.start << ": " << c.why;
    }
}

TEST(ScanRecordFile, HeadWindowStartsBehindAByteOrderMark) {
    TempFolder folder;
    std::u16string last;
    EXPECT_TRUE(ScanRecordFile(W(folder.Write("m-123-7b.txt", "\xEF\xBB\xBF" + Line("2022-07-30 10:15:42"))),
                               123, last));
    EXPECT_EQ(last, u"2022-07-30 10:15:42");
}

TEST(ScanRecordFile, EmptyAndMissingFiles) {
    TempFolder folder;
    std::u16string last;
    EXPECT_TRUE(ScanRecordFile(W(folder.Write("e-123-7b.txt", "")), 123, last));
    EXPECT_EQ(last, u"");
    EXPECT_FALSE(ScanRecordFile(W(folder.path() + "/missing-123-7b.txt"), 123, last));
}

TEST(ScanFolder, FindsTheDevicesFilesAtAnyDepthAndNothingElse) {
    TempFolder folder;
    folder.Write("220730-102005-123-7b.txt", Line("2022-07-30 10:00:00") + Line("2022-07-30 10:02:01"));
    folder.Write("a/b/c/d/220801-000000-123-7b.txt", Line("2022-07-31 00:00:00"));
    folder.Write("other-124-7c.txt", Line("2029-01-01 00:00:00", "0124"));  // another device's name
    folder.Write("mixed-123-7b.txt", Line("2028-01-01 00:00:00", "0124"));  // its product field
    folder.Write("no-pattern.txt", Line("2027-01-01 00:00:00"));            // not a record file
    folder.Write("-123-7b.txt.d/x.txt", Line("2026-01-01 00:00:00"));       // folder names don't match
    folder.Write("UPPER-123-7B.TXT", Line("2025-01-01 00:00:00"));          // case-sensitive
    EXPECT_EQ(ScanTree(folder, 123), u"2022-07-31 00:00:00");

    folder.Write("x/220801-000000-123-7b.txt.bak", Line("2024-02-02 00:00:00"));  // pattern in the middle
    EXPECT_EQ(ScanTree(folder, 123), u"2024-02-02 00:00:00");
}

TEST(ScanFolder, ProductZeroAndNegativeProducts) {
    TempFolder folder;
    folder.Write(WideToUtf8(MakeRecordFileName({2022, 1, 1, 0, 0, 0}, 0)),
                 Line("2022-01-01 00:00:00", "0000"));
    folder.Write(WideToUtf8(MakeRecordFileName({2022, 1, 1, 0, 0, 0}, -1)),
                 Line("2022-01-01 00:00:00", "-001"));
    EXPECT_EQ(ScanTree(folder, 0), u"2022-01-01 00:00:00");
    EXPECT_EQ(ScanTree(folder, -1), u"");  // the name carries the unsigned form, the pattern the signed
}

TEST(ScanFolder, MissingFolderFindsNothing) {
    TempFolder folder;
    std::u16string last;
    ScanFolder(W(folder.path() + "/missing"), 123, last, [](const std::u16string&) { FAIL(); });
    EXPECT_EQ(last, u"");
}

}  // namespace
}  // namespace korvel
