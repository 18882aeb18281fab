// SPDX-License-Identifier: MIT
// Record files where the system refuses: a folder without write permission, a disk that fills part-way,
// and the upload folder under HOME.
// POSIX only: permission bits, a file size limit (setrlimit) standing in for a full disk, HOME and
// /proc/self/exe; on Windows the upload folder follows %USERPROFILE% (tests/win).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "records/record_file.h"
#include "support/temp_folder.h"
#include "text/utf8.h"

namespace korvel {
namespace {

using testing::TempFolder;

TEST(WriteRecordFile, FailsInAFolderWithoutWritePermission) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempFolder folder;
    std::filesystem::create_directory(folder.path() + "/locked");
    std::filesystem::permissions(folder.path() + "/locked",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_TRUE(WriteRecordFile(Utf8ToWide(folder.path() + "/locked/r-1-1.txt"), {"a\n"}));
    EXPECT_TRUE(std::filesystem::is_empty(folder.path() + "/locked"));
}

TEST(WriteRecordFile, AWriteThatFailsHalfWayLeavesNothing) {
    // A file size limit stands in for a full disk: the write stops part-way with an error.
    TempFolder folder;
    folder.Write("r-1-1.txt", "the earlier download\n");
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    Failure error = WriteRecordFile(JoinPath(folder.wide(), u"r-1-1.txt"), {std::string(5000, 'x')});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    EXPECT_TRUE(error);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"r-1-1.txt"});
    EXPECT_EQ(folder.Read("r-1-1.txt"), "the earlier download\n");
}

class UploadFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* home = std::getenv("HOME")) saved_home_ = home, had_home_ = true;
    }
    void TearDown() override {
        if (had_home_)
            ::setenv("HOME", saved_home_.c_str(), 1);
        else
            ::unsetenv("HOME");
    }
    std::string saved_home_;
    bool had_home_ = false;
};

TEST_F(UploadFolderTest, IsTheUploadFolderUnderHomeWhenItExists) {
    TempFolder home;
    std::filesystem::create_directories(home.path() + "/hollin.data/upload");
    ::setenv("HOME", home.path().c_str(), 1);
    EXPECT_EQ(ResolveUploadFolder(), Utf8ToWide(home.path() + "/hollin.data/upload"));
    EXPECT_TRUE(std::filesystem::is_directory(home.path() + "/hollin.data/upload"));
}

TEST_F(UploadFolderTest, FallsBackToTheProgramFolderAndCreatesNothing) {
    TempFolder home;
    ::setenv("HOME", home.path().c_str(), 1);
    std::string program_folder = std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
    EXPECT_EQ(ResolveUploadFolder(), Utf8ToWide(program_folder));
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

}  // namespace
}  // namespace korvel
