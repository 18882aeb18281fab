// SPDX-License-Identifier: MIT
// The archive on what only POSIX file systems hold: symbolic links (a loop, a file link to nowhere).
// POSIX only: a standard Windows user cannot make symbolic links and Windows names cannot hold quotes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "archive/archive.h"
#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

constexpr const char* kA = "240305-010000-123-7b.txt";
constexpr const char* kB = "240305-020000-123-7b.txt";

TEST(Archive, FolderLinksAreNotFollowed) {
    TempFolder folder;
    folder.Write(kA, RecordLines(0, 2));
    std::filesystem::create_directory_symlink(folder.path(), folder.path() + "/loop");
    const Archive archive = ReadArchive(folder.path());
    EXPECT_EQ(archive.files.size(), 1u);
    EXPECT_TRUE(archive.Complete());
    const Archive missing = ReadArchive(folder.path() + "/absent");
    ASSERT_EQ(missing.problems.size(), 1u);
    EXPECT_NE(missing.problems[0].find(folder.path() + "/absent: No such file or directory"),
              std::string::npos)
        << missing.problems[0];
}

TEST(Archive, AnUnreadableFileMakesItsDeviceIncomplete) {
    TempFolder folder;
    folder.Write(kA, RecordLines(0, 2));
    std::filesystem::create_symlink("nowhere", folder / kB);
    const Archive archive = ReadArchive(folder.path());
    ASSERT_EQ(archive.devices.size(), 1u);
    ASSERT_EQ(archive.devices[0].unreadable.size(), 1u);
    EXPECT_NE(archive.devices[0].unreadable[0].find(kB), std::string::npos);
    EXPECT_FALSE(archive.devices[0].Complete());
    EXPECT_FALSE(archive.Complete(archive.devices[0]));
}

}  // namespace
}  // namespace korvel::testing
