// SPDX-License-Identifier: MIT
// Record file names, stored lines, whole-or-nothing writing and the upload folder.
// Reading the files back is in scan_test.cpp; the walk that fills them in walk_test.cpp. Permission bits,
// a full disk and the upload folder under HOME are in record_file_posix_test.cpp.
#include "records/record_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <filesystem>
#include <set>

#include "archive/archive.h"
#include "records/scan.h"
#include "support/temp_folder.h"
#include "text/cfile.h"
#include "text/number.h"
#include "text/safe_output.h"
#include "text/utf8.h"

namespace korvel {
namespace {

using testing::TempFolder;

TEST(RecordFileName, FollowsTheLocalTimeAndTheProductNumber) {
    struct Case {
        LocalTime time;
        int n;
        std::u16string name;
    };
    const Case cases[] = {
        {{2022, 7, 30, 10, 20, 5}, 123, u"220730-102005-123-7b.txt"},
        {{2009, 7, 30, 10, 20, 5}, 123, u"90730-102005-123-7b.txt"},
        {{2000, 1, 2, 3, 4, 5}, 1, u"00102-030405-1-1.txt"},
        {{2031, 12, 31, 23, 59, 59}, 0, u"311231-235959-0-0.txt"},
        {{2022, 7, 30, 10, 20, 5}, -1, u"220730-102005-4294967295-ffffffff.txt"},
        {{2022, 7, 30, 10, 20, 5}, 0x7fffffff, u"220730-102005-2147483647-7fffffff.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeRecordFileName(c.time, c.n), c.name);
    // Later downloads of the same second carry their sequence behind the time.
    EXPECT_EQ(MakeRecordFileName({2022, 7, 30, 10, 20, 5}, 123, 1), u"220730-102005-1-123-7b.txt");
    EXPECT_EQ(MakeRecordFileName({2022, 7, 30, 10, 20, 5}, 123, 86399), u"220730-102005-86399-123-7b.txt");
}

TEST(RecordFileName, TwoDownloadsInOneSecondShareTheName) {
    LocalTime t{2022, 7, 30, 10, 20, 5};
    EXPECT_EQ(MakeRecordFileName(t, 5), MakeRecordFileName(t, 5));
}

TEST(RecordLine, WorkedExampleByteForByte) {
    std::string line = MakeRecordLine(u"2022-07-30 10:15:42+08:00 125 0123");
    EXPECT_EQ(line, "2022-07-30 10:15:42+08:00 125 0123 cba8\n");
    EXPECT_EQ(line.size(), 40u);
}

TEST(RecordLine, ChecksumCoversTheUtf8Bytes) {
    // "é" is two bytes on disk; the checksum must be over those, not over UTF-16 units.
    std::string line = MakeRecordLine(u"2022-07-30 10:15:42+08:00 \u00e9 0123");
    ASSERT_GE(line.size(), 6u);
    EXPECT_EQ(line.substr(0, line.size() - 6), "2022-07-30 10:15:42+08:00 \xc3\xa9 0123");
    EXPECT_EQ(line[line.size() - 6], ' ');
    EXPECT_EQ(line.back(), '\n');
}

TEST(ToInt, ReadsProductNumbersAndIndicesLikeTheDeviceTools) {
    struct Case {
        std::u16string text;
        int value;
    };
    const Case cases[] = {{u"0123", 123},
                          {u"  -5x", -5},
                          {u"+7", 7},
                          {u"abc", 0},
                          {u"", 0},
                          {u"\t42", 42},
                          {u"12 34", 12},
                          {u"-", 0},
                          {u"99999999999", INT_MAX},
                          {u"-99999999999", INT_MIN}};
    for (const Case& c : cases) EXPECT_EQ(ToInt(c.text), c.value) << WideToUtf8(c.text);
}

// The download's and the command line's free-space check are one: 64 bytes a record, rounded up to KiB,
// against the folder's free space; no folder holds 2^50 records' worth.
TEST(SpaceShortageFor, NamesWhatTheRecordsNeedAndWhatIsFree) {
    TempFolder folder;
    EXPECT_FALSE(SpaceShortageFor(folder.path(), 0).has_value());
    EXPECT_FALSE(SpaceShortageFor(folder.path(), 1).has_value());
    const std::optional<SpaceShortage> short_of = SpaceShortageFor(folder.path(), uint64_t{1} << 50);
    ASSERT_TRUE(short_of.has_value());
    EXPECT_EQ(short_of->need_kib, uint64_t{1} << 46);
    EXPECT_LT(short_of->free_kib, short_of->need_kib);
    const Failure refused = SaveFolderProblem(folder.path(), INT_MAX);
    if (refused) {  // a folder with less than 128 GiB free
        EXPECT_EQ(refused.code, ENOSPC);
        EXPECT_EQ(refused.reason.rfind(
                      "not enough free space: the 2147483647 records need about 134217728 KiB, ", 0),
                  0u)
            << refused.reason;
    }
}

TEST(WriteRecordFile, WritesOldestFirstAndNeverReplacesAFile) {
    TempFolder folder;
    std::vector<std::string> newest_first = {"c\n", "b\n", "a\n"};
    EXPECT_FALSE(WriteRecordFile(JoinPath(folder.wide(), u"b-1-1.txt"), newest_first));
    EXPECT_EQ(folder.Read("b-1-1.txt"), "a\nb\nc\n");
    folder.Write("a-1-1.txt", "an earlier download\n");
    EXPECT_EQ(WriteRecordFile(JoinPath(folder.wide(), u"a-1-1.txt"), newest_first).code, EEXIST);
    EXPECT_EQ(folder.Read("a-1-1.txt"), "an earlier download\n");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a-1-1.txt", "b-1-1.txt"}));  // no temporary left
}

TEST(WriteRecordFile, AnEmptyWalkWritesAnEmptyFile) {
    TempFolder folder;
    EXPECT_FALSE(WriteRecordFile(JoinPath(folder.wide(), u"x-1-1.txt"), {}));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"x-1-1.txt"});
    EXPECT_EQ(folder.Read("x-1-1.txt"), "");
}

TEST(WriteRecordFile, AFullRingIsWrittenWhole) {
    TempFolder folder;
    std::vector<std::string> lines;
    std::string expected;
    for (int i = 32766; i >= 0; --i)
        lines.push_back(
            MakeRecordLine(u"2022-07-30 10:15:42+08:00 " + Utf8ToWide(std::to_string(i)) + u" 0123"));
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) expected += *it;
    EXPECT_FALSE(WriteRecordFile(JoinPath(folder.wide(), u"r-123-7b.txt"), lines));
    EXPECT_EQ(folder.Read("r-123-7b.txt"), expected);
}

TEST(WriteRecordFile, FailsWithoutLeavingAnythingBehind) {
    TempFolder folder;
    folder.Write("plain-file", "x");
    struct Case {
        std::string folder;
        const char* why;
    };
    const Case cases[] = {
        {folder.path() + "/missing", "the folder does not exist"},
        {folder.path() + "/plain-file", "the folder is a file"},
    };
    for (const Case& c : cases) {
        std::u16string path = Utf8ToWide(c.folder + "/r-1-1.txt");
        EXPECT_TRUE(WriteRecordFile(path, {"a\n"})) << c.why;
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"plain-file"});

    // The rename fails when a folder holds the record file's name.
    std::filesystem::create_directory(folder.path() + "/r-1-1.txt");
    EXPECT_TRUE(WriteRecordFile(JoinPath(folder.wide(), u"r-1-1.txt"), {"a\n"}));
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"plain-file", "r-1-1.txt"}));
}

TEST(SaveRecordFile, ATakenNameGivesASequenceOfTheSameSecondAndLiveWritersAreLeftAlone) {
    TempFolder folder;
    folder.Write("221231-235959-5-5.txt", "first\n");
    folder.Write("221231-235959-1-5-5.txt", "second\n");
    folder.Write(".korvel-partial-stale000", "left by a killed run");
    const std::string live = folder.Write(".korvel-partial-live0000", "being written");
    CFile writer;  // another instance, still writing
    ASSERT_TRUE(writer.Open(live, CFile::modeWrite));
    ASSERT_TRUE(writer.TryLock());

    std::u16string name;
    EXPECT_FALSE(SaveRecordFile(folder.wide(), {2022, 12, 31, 23, 59, 59}, 5, {"b\n", "a\n"}, name));
    EXPECT_EQ(name, u"221231-235959-2-5-5.txt");
    EXPECT_EQ(folder.Read("221231-235959-2-5-5.txt"), "a\nb\n");
    EXPECT_EQ(folder.Read("221231-235959-5-5.txt"), "first\n");
    EXPECT_EQ(folder.Read("221231-235959-1-5-5.txt"), "second\n");
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{".korvel-partial-live0000", "221231-235959-1-5-5.txt",
                                                        "221231-235959-2-5-5.txt", "221231-235959-5-5.txt"}));
}

// The record file being written is locked from its creation on: a clean-up in another instance leaves
// it alone.
TEST(RemoveStalePartialFiles, LeavesAFileBeingWrittenAlone) {
    TempFolder folder;
    SafeOutput writer;
    Failure error;
    ASSERT_TRUE(writer.OpenNew(folder.path(), ".korvel-partial-", &error)) << error.message;
    ASSERT_TRUE(writer.Write("a\n"));
    RemoveStalePartialFiles(folder.path());
    ASSERT_TRUE(std::filesystem::exists(writer.Temporary()));
    ASSERT_TRUE(writer.Publish(folder / "r-1-1.txt", &error)) << error.message;
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"r-1-1.txt"});
    EXPECT_EQ(folder.Read("r-1-1.txt"), "a\n");
}

// Downloads faster than one a second (a script in a loop) keep the second they were made in: every name
// tells its true time and product to whatever reads names, and the scan of a device finds them all.
TEST(SaveRecordFile, ManyDownloadsOfOneSecondKeepTheirTimeAndProductInTheirNames) {
    struct Case {
        LocalTime time;
        int n;
        int64_t name_time;
    };
    const Case cases[] = {
        {{2024, 3, 5, 7, 8, 9}, 123, 20240305070809},
        {{2009, 12, 31, 23, 59, 59}, 4711, 20091231235959},
        {{2024, 3, 5, 7, 8, 9}, 1, 20240305070809},  // a product number that is also a sequence
    };
    for (const Case& c : cases) {
        TempFolder folder;
        std::set<std::u16string> names;
        for (int download = 0; download < 12; ++download) {
            std::u16string name;
            ASSERT_FALSE(SaveRecordFile(folder.wide(), c.time, c.n, {"a\n"}, name));
            names.insert(name);
            const std::string narrow = WideToUtf8(name);
            EXPECT_EQ(NameTimeFromFileName(narrow), c.name_time) << narrow;
            EXPECT_EQ(ProductFromFileName(narrow), static_cast<uint32_t>(c.n)) << narrow;
            EXPECT_NE(name.find(RecordFilePattern(c.n)), std::u16string::npos) << narrow;
        }
        EXPECT_EQ(names.size(), 12u);
        EXPECT_EQ(folder.Names().size(), 12u);
    }
}

}  // namespace
}  // namespace korvel
