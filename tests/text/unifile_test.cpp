// SPDX-License-Identifier: MIT
// The file classes: CUniFile's encoding sniffing, CFile's errors and seeks, the file-system helpers.
// Folders opened as files, symbolic links and open descriptors are in unifile_posix_test.cpp.
#include "text/unifile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/temp_folder.h"
#include "text/file_system.h"

namespace korvel {
namespace {

class UniFileTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(dir_.empty()); }

    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = dir_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static std::string ReadRest(CFile& file) {
        std::string rest(200000, '\0');
        rest.resize(static_cast<size_t>(file.Read(rest.data(), rest.size())));
        return rest;
    }

    testing::TempFolder folder_;
    const std::string& dir_ = folder_.path();
};

TEST_F(UniFileTest, SniffsMarksAndEncoding) {
    struct Case {
        const char* name;
        std::string bytes;
        bool data_tag;
        bool utf8;
        int bom;
        bool big_endian;
        std::string rest;  // what a read after Open returns
    } const cases[] = {
        {"empty file", "", false, true, 0, false, ""},
        {"ascii", "a\tb\r\n", false, true, 0, false, "a\tb\r\n"},
        {"utf-8 mark", "\xEF\xBB\xBF<DATA>x", true, true, 3, false, "<DATA>x"},
        {"utf-16 big-endian", std::string("\xFE\xFF\x00<", 4), false, false, 2, true, std::string("\0<", 2)},
        {"utf-16 little-endian", std::string("\xFF\xFE<\x00", 4), false, false, 2, false,
         std::string("<\0", 2)},
        {"mark cut short", "\xEF\xBB", false, false, 0, false, "\xEF\xBB"},
        {"mark with wrong third byte", "\xEF\xBB\x41", false, false, 0, false, "\xEF\xBB\x41"},
        {"lone FE", "\xFE", false, false, 0, false, "\xFE"},
        {"lone FF", "\xFF", false, false, 0, false, "\xFF"},
        {"chinese text", "读数据 <DATA>", true, true, 0, false, "读数据 <DATA>"},
        {"tag in lower case", "<data>", false, true, 0, false, "<data>"},
        {"NUL ends the search and the check", std::string("ok\0<DATA>\xFF", 10), false, true, 0, false,
         std::string("ok\0<DATA>\xFF", 10)},
        {"control byte", "a\x01", false, false, 0, false, "a\x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CUniFile file;
        ASSERT_TRUE(file.Open(Write("f.txt", c.bytes), CFile::modeRead));
        EXPECT_EQ(file.m_bHasDataTag, c.data_tag);
        EXPECT_EQ(file.m_bUtf8, c.utf8);
        EXPECT_EQ(file.m_nBomLength, c.bom);
        EXPECT_EQ(file.m_bBigEndian, c.big_endian);
        EXPECT_EQ(file.GetPosition(), c.bom);
        EXPECT_EQ(ReadRest(file), c.rest);
    }
}

// Only the first 61999 bytes are judged: a character cut by that limit fails the check, one that
// ends just before it passes, and "<DATA>" beyond it is not seen.
TEST_F(UniFileTest, LooksOnlyAtTheFirst61999Bytes) {
    const std::string chinese = "\xE8\xAF\xBB";
    struct Case {
        const char* name;
        size_t ascii_before;
        bool utf8;
    } const cases[] = {
        {"character ends at byte 61998", 61999 - 3, true},
        {"character cut after its second byte", 61999 - 2, false},
        {"character cut after its first byte", 61999 - 1, false},
        {"character starts after the limit", 61999, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = std::string(c.ascii_before, 'a') + chinese + "<DATA>";
        CUniFile file;
        ASSERT_TRUE(file.Open(Write("big.txt", bytes), CFile::modeRead));
        EXPECT_EQ(file.m_bUtf8, c.utf8);
        EXPECT_FALSE(file.m_bHasDataTag);
        EXPECT_EQ(file.GetPosition(), 0);
        EXPECT_EQ(ReadRest(file), bytes);
    }
}

TEST_F(UniFileTest, CreateModeTruncatesAndReadsNothing) {
    const std::string path = Write("old.txt", "\xEF\xBB\xBF<DATA>");
    CUniFile file;
    file.m_bBigEndian = true;  // untouched by a create-mode open
    ASSERT_TRUE(file.Open(path, CFile::modeCreate | CFile::modeWrite));
    EXPECT_FALSE(file.m_bHasDataTag);
    EXPECT_FALSE(file.m_bUtf8);
    EXPECT_EQ(file.m_nBomLength, 0);
    EXPECT_TRUE(file.m_bBigEndian);
    EXPECT_EQ(file.GetLength(), 0);
    ASSERT_TRUE(file.Write("line\n", 5));
    ASSERT_TRUE(file.Flush());
    file.Close();
    EXPECT_EQ(std::filesystem::file_size(path), 5u);
}

TEST_F(UniFileTest, ReportsWhatWentWrong) {
    CUniFile file;
    Failure error;
    EXPECT_FALSE(file.Open(dir_ + "/missing.txt", CFile::modeRead, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_NE(error.message.find(dir_ + "/missing.txt"), std::string::npos) << error.message;
    EXPECT_FALSE(file.IsOpen());
}

TEST_F(UniFileTest, FileSeeksFromEachOrigin) {
    const std::string path = Write("s.txt", "0123456789");
    {
        CFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeRead));
        EXPECT_EQ(file.GetLength(), 10);
        EXPECT_EQ(file.Seek(-3, CFile::end), 7);
        EXPECT_EQ(file.Seek(-2, CFile::current), 5);
        char c = 0;
        EXPECT_EQ(file.Read(&c, 1), 1);
        EXPECT_EQ(c, '5');
        EXPECT_EQ(file.Seek(1, CFile::begin), 1);
        Failure error;
        EXPECT_EQ(file.Seek(-1, CFile::begin, &error), -1);
        EXPECT_EQ(error.code, EINVAL);
    }
    EXPECT_TRUE(RemoveFile(path));  // closed on destruction: nothing holds it
}

TEST_F(UniFileTest, FileSystemHelpers) {
    const std::string a = Write("a.txt", "new");
    const std::string b = Write("b.txt", "old");
    ASSERT_TRUE(MakeDirectory(dir_ + "/sub"));
    EXPECT_TRUE(MakeDirectory(dir_ + "/sub"));  // already there

    ASSERT_TRUE(RenameFile(a, b));  // replaces the old file
    EXPECT_FALSE(FileExists(a));
    EXPECT_TRUE(SyncDirectory(dir_));
    std::ifstream in(b);
    std::string content;
    in >> content;
    EXPECT_EQ(content, "new");

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(dir_, entries));
    std::sort(entries.begin(), entries.end(), [](auto& x, auto& y) { return x.name < y.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "b.txt");
    EXPECT_EQ(entries[0].type, EntryType::kFile);
    EXPECT_EQ(entries[1].name, "sub");
    EXPECT_EQ(entries[1].type, EntryType::kDirectory);
    EXPECT_TRUE(IsDirectory(dir_ + "/sub"));
    EXPECT_FALSE(IsDirectory(b));

    Failure error;
    EXPECT_FALSE(RemoveFile(a, &error));
    EXPECT_EQ(error.code, ENOENT);
    EXPECT_FALSE(ListDirectory(dir_ + "/none", entries, &error));
    EXPECT_FALSE(MakeDirectory(b, &error));  // a file stands in the way
    EXPECT_EQ(error.code, EEXIST);
}

}  // namespace
}  // namespace korvel
