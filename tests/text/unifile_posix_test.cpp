// SPDX-License-Identifier: MIT
// The file classes where POSIX differs: a folder opened as a file, symbolic links in a listing, and
// the descriptors a closed file leaves (none).
// POSIX only: a folder opens as a file only there, a standard Windows user cannot make symbolic links,
// and open descriptors are read from /proc/self/fd.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <vector>

#include "support/temp_folder.h"
#include "text/file_system.h"
#include "text/unifile.h"

namespace korvel {
namespace {

using testing::TempFolder;

TEST(UniFilePosix, AFolderOpensButIsNotReadAsAFile) {
    TempFolder folder;
    CUniFile file;
    Failure error;
    EXPECT_FALSE(file.Open(folder.path(), CFile::modeRead, &error));
    EXPECT_EQ(error.code, EISDIR);
    EXPECT_FALSE(file.IsOpen());
}

TEST(UniFilePosix, AClosedFileLeavesNoDescriptor) {
    TempFolder folder;
    const std::string path = folder.Write("s.txt", "0123456789");
    {
        CFile file;
        ASSERT_TRUE(file.Open(path, CFile::modeRead));
    }
    ASSERT_TRUE(RemoveFile(path));
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        EXPECT_NE(std::filesystem::read_symlink(fd.path(), ec).string(), path + " (deleted)");
    }
}

TEST(UniFilePosix, ALinkIsListedAsALinkAndFollowedByIsDirectory) {
    TempFolder folder;
    ASSERT_TRUE(MakeDirectory(folder / "sub"));
    std::filesystem::create_symlink(folder / "sub", folder / "link");
    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(ListDirectory(folder.path(), entries));
    ASSERT_EQ(entries.size(), 2u);
    for (const DirectoryEntry& e : entries)
        EXPECT_EQ(e.type, e.name == "link" ? EntryType::kSymlink : EntryType::kDirectory) << e.name;
    EXPECT_TRUE(IsDirectory(folder / "link"));
}

}  // namespace
}  // namespace korvel
