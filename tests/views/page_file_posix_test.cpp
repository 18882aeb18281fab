// SPDX-License-Identifier: MIT
// A page written where only this user may enter and handed to the browser, here a stand-in named by
// KORVEL_OPEN_WITH that notes the path it was given. POSIX: the stand-in is a shell script.
#include "views/page_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "platform/open_in_desktop.h"
#include "support/files.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

// TMPDIR and the opener for the test's span; the opener writes the path it gets to `opened`.
class PageFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteOpener(0);
        ::setenv("TMPDIR", (folder_ / "tmp").c_str(), 1);
        fs::create_directory(folder_ / "tmp");
    }
    void TearDown() override {
        ::unsetenv(kOpenWithVariable);
        ::unsetenv("TMPDIR");
    }
    void WriteOpener(int exit_code) {
        folder_.Write("open", "#!/bin/sh\necho \"$1\" > \"$(dirname \"$0\")/opened\"\nexit " +
                                  std::to_string(exit_code) + "\n");
        ::chmod((folder_ / "open").c_str(), 0755);
        ::setenv(kOpenWithVariable, (folder_ / "open").c_str(), 1);
    }
    std::string Opened() { return folder_.Read("opened"); }

    TempFolder folder_;
};

TEST_F(PageFileTest, EachPlaceIsAFolderOnlyThisUserMayEnter) {
    struct Case {
        const char* what;
        std::optional<PageFile> file;
        std::string folder;  // a pattern of the folder's name
        std::string name;    // of the page's name
        size_t keep;
    };
    Failure error;
    const std::string uid = std::to_string(::geteuid());
    const Case cases[] = {
        {"korvel-cli's --open", NewFolderPage("report", "korvel-report-123.html", &error),
         "korvel-report-\\w{6,}", "korvel-report-123\\.html", 0},
        {"the windows' report", PagesFolderPage("korvel-report-123", true, &error), "korvel-pages-" + uid,
         "korvel-report-123-\\d{8}-\\d{6}\\.html", kPagesKept},
        {"the guide", PagesFolderPage("korvel-guide.html", false, &error), "korvel-pages-" + uid,
         "korvel-guide\\.html", kPagesKept},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.file) << c.what << ": " << error.message;
        const fs::path path(c.file->path);
        EXPECT_EQ(path.parent_path().parent_path(), folder_ / "tmp") << c.what;
        EXPECT_TRUE(std::regex_match(path.parent_path().filename().string(), std::regex(c.folder))) << path;
        EXPECT_TRUE(std::regex_match(path.filename().string(), std::regex(c.name))) << path;
        EXPECT_EQ(fs::status(path.parent_path()).permissions(), fs::perms::owner_all) << c.what;
        EXPECT_EQ(c.file->keep, c.keep) << c.what;
    }
    // Every --open gets a folder of its own.
    EXPECT_NE(NewFolderPage("fleet", "f.html", &error)->path, NewFolderPage("fleet", "f.html", &error)->path);
}

TEST_F(PageFileTest, WrittenWholeThenOpenedByItsAbsolutePath) {
    const fs::path before = fs::current_path();
    fs::current_path(folder_.path());
    const PageOpened result = WriteAndOpenPage({"page.html"}, "<p>页</p>\n");
    fs::current_path(before);
    EXPECT_FALSE(result.not_written) << result.not_written.message;
    EXPECT_FALSE(result.not_opened) << result.not_opened.message;
    EXPECT_EQ(result.opened, folder_ / "page.html");
    EXPECT_EQ(Opened(), folder_ / "page.html" + "\n");
    EXPECT_EQ(folder_.Read("page.html"), "<p>页</p>\n");
}

TEST_F(PageFileTest, AFailureSaysWhichStepAndTheSystemsReason) {
    // No such folder: nothing written, nothing opened.
    const PageOpened unwritten = WriteAndOpenPage({folder_ / "absent/page.html"}, "x");
    EXPECT_TRUE(unwritten.not_written);
    EXPECT_NE(unwritten.not_written.message.find("absent/page.html"), std::string::npos)
        << unwritten.not_written.message;
    EXPECT_FALSE(fs::exists(folder_ / "opened"));
    // An opener that finds no browser: the page stays.
    WriteOpener(3);
    const PageOpened unopened = WriteAndOpenPage({folder_ / "page.html"}, "x");
    EXPECT_FALSE(unopened.not_written);
    EXPECT_NE(unopened.not_opened.message.find("ended with 3"), std::string::npos)
        << unopened.not_opened.message;
    EXPECT_EQ(folder_.Read("page.html"), "x");
}

TEST_F(PageFileTest, ThePagesFolderKeepsItsNewestPages) {
    fs::create_directory(folder_ / "pages");
    // Twelve older pages, a minute apart, and a file that is no page.
    const auto now = fs::file_time_type::clock::now();
    for (int i = 0; i < 12; ++i) {
        const std::string name = "pages/old-" + std::to_string(i) + ".html";
        folder_.Write(name, "old");
        fs::last_write_time(folder_ / name, now - std::chrono::minutes(60 - i));
    }
    folder_.Write("pages/notes.txt", "kept");
    fs::last_write_time(folder_ / "pages/notes.txt", now - std::chrono::hours(5));
    const PageOpened result = WriteAndOpenPage({folder_ / "pages/new.html", 4}, "new");
    EXPECT_FALSE(result.not_written);
    std::set<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder_ / "pages")) left.insert(entry.path().filename());
    EXPECT_EQ(left,
              (std::set<std::string>{"new.html", "old-9.html", "old-10.html", "old-11.html", "notes.txt"}));
    // keep 0: nothing goes.
    EXPECT_FALSE(WriteAndOpenPage({folder_ / "pages/more.html"}, "more").not_written);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "pages"), fs::directory_iterator()), 6);
}

}  // namespace
}  // namespace korvel::testing
