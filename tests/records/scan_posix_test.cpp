// SPDX-License-Identifier: MIT
// The scan of a folder tree where it holds what only POSIX file systems offer: symbolic links (to
// folders, to nowhere, to a pipe), pipes, and file names that are not UTF-8.
// POSIX only: a standard Windows user cannot make symbolic links, Windows has no named pipes in a folder
// and its names are UTF-16; junctions on Windows are tested in tests/win.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "support/scan_tree.h"

namespace korvel {
namespace {

using testing::Line;
using testing::ScanTree;
using testing::TempFolder;
using testing::W;

TEST(ScanFolder, NamesThatAreNotUtf8AreReadToo) {
    TempFolder folder;
    folder.Write("\xff\xfe-123-7b.txt", Line("2022-07-30 10:00:00"));
    std::vector<std::u16string> errors;
    EXPECT_EQ(ScanTree(folder, 123, &errors), u"2022-07-30 10:00:00");
    EXPECT_TRUE(errors.empty());
}

TEST(ScanFolder, LinksToFoldersAreNotFollowedSoLoopsEnd) {
    TempFolder folder;
    folder.Write("sub/220730-102005-123-7b.txt", Line("2022-07-30 10:00:00"));
    std::filesystem::create_directory_symlink(folder.path(), folder.path() + "/sub/loop");
    std::filesystem::create_directory_symlink("..", folder.path() + "/sub/up-123-7b.txt");
    std::vector<std::u16string> errors;
    EXPECT_EQ(ScanTree(folder, 123, &errors), u"2022-07-30 10:00:00");
    EXPECT_TRUE(errors.empty());
}

TEST(ScanFolder, UnopenableFilesAreReportedAndTheScanGoesOn) {
    TempFolder folder;
    folder.Write("b/220730-102005-123-7b.txt", Line("2022-07-30 10:00:00"));
    std::filesystem::create_symlink(folder.path() + "/nowhere", folder.path() + "/a-123-7b.txt");
    std::vector<std::u16string> errors;
    EXPECT_EQ(ScanTree(folder, 123, &errors), u"2022-07-30 10:00:00");
    EXPECT_EQ(errors, std::vector<std::u16string>{W(folder.path() + "/a-123-7b.txt")});
}

TEST(ScanFolder, ALinkToAPipeIsReportedWithoutWaitingForAWriter) {
    TempFolder folder;
    folder.Write("b/220730-102005-123-7b.txt", Line("2022-07-30 10:00:00"));
    const std::string fifo = folder.path() + "/pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_symlink(fifo, folder.path() + "/a-123-7b.txt");
    std::vector<std::u16string> errors;
    auto scan = std::async(std::launch::async, [&] { return ScanTree(folder, 123, &errors); });
    if (scan.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the scan waits on the pipe";
        const int writer = ::open(fifo.c_str(), O_RDWR);  // lets it go on, so the test can end
        [[maybe_unused]] ssize_t n = ::write(writer, "x\n", 2);
        ::close(writer);
        scan.wait();
    }
    EXPECT_EQ(scan.get(), u"2022-07-30 10:00:00");
    EXPECT_EQ(errors, std::vector<std::u16string>{W(folder.path() + "/a-123-7b.txt")});
}

}  // namespace
}  // namespace korvel
