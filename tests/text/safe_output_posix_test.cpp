// SPDX-License-Identifier: MIT
// The output writer on the names only POSIX systems have: symbolic links, permission bits, pipes, devices,
// and an interrupt by a signal. What the name leads to keeps existing and gets the whole output.
// POSIX only: links, modes, FIFOs, fork() and signals; plain files are in safe_output_test.cpp.
#include "text/safe_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

mode_t Mode(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode;
}

struct Kind {
    const char* name;
    std::function<void(const TempFolder&)> prepare;  // makes what "out" is before the write
    std::vector<std::string> names;                  // the folder's entries afterwards
    std::string written_at;                          // the file that must hold the output
    mode_t type_and_mode;                            // of "out" itself afterwards (lstat)
};

void PrintTo(const Kind& k, std::ostream* out) { *out << k.name; }

class SafeOutputKind : public ::testing::TestWithParam<Kind> {};

TEST_P(SafeOutputKind, KeepsWhatTheNameIsAndWritesTheWholeOutput) {
    TempFolder folder;
    GetParam().prepare(folder);
    const std::string bytes(200000, 'x');
    Failure error;
    ASSERT_TRUE(WriteWhole(folder / "out", bytes, &error)) << error.message;
    EXPECT_EQ(folder.Names(), GetParam().names);
    EXPECT_EQ(folder.Read(GetParam().written_at), bytes);
    EXPECT_EQ(Mode(folder / "out"), GetParam().type_and_mode);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SafeOutputKind,
    ::testing::Values(Kind{"NewFile", [](const TempFolder&) { umask(022); }, {"out"}, "out", S_IFREG | 0644},
                      Kind{"FileKeepsItsMode",
                           [](const TempFolder& f) {
                               f.Write("out", "old contents, longer than nothing");
                               chmod((f / "out").c_str(), 0640);
                           },
                           {"out"},
                           "out",
                           S_IFREG | 0640},
                      Kind{"LinkStaysAndItsTargetIsWritten",
                           [](const TempFolder& f) {
                               f.Write("target", "old");
                               chmod((f / "target").c_str(), 0600);
                               fs::create_symlink("target", f / "out");
                           },
                           {"out", "target"},
                           "target",
                           S_IFLNK | 0777},
                      Kind{"DanglingLinkCreatesItsTarget",
                           [](const TempFolder& f) {
                               fs::create_directory(f / "sub");
                               fs::create_symlink("sub/new", f / "out");
                           },
                           {"out", "sub"},
                           "sub/new",
                           S_IFLNK | 0777},
                      Kind{"AnotherFilesPartialNameIsLeftAlone",
                           [](const TempFolder& f) {
                               umask(022);
                               f.Write("out.partial", "the operator's own notes");
                           },
                           {"out", "out.partial"},
                           "out",
                           S_IFREG | 0644}),
    [](const ::testing::TestParamInfo<Kind>& param_info) { return std::string(param_info.param.name); });

TEST(SafeOutput, PipeAndDeviceAreWrittenInPlace) {
    TempFolder folder;
    ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0600), 0);
    // The reader opens the pipe itself; the write waits for it like a shell's redirection does.
    auto reader = std::async(std::launch::async, [&] {
        std::ifstream in(folder / "pipe", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    });
    Failure error;
    ASSERT_TRUE(WriteWhole(folder / "pipe", std::string(300000, 'p'), &error)) << error.message;
    EXPECT_EQ(reader.get(), std::string(300000, 'p'));
    EXPECT_TRUE(S_ISFIFO(Mode(folder / "pipe")));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"pipe"});

    ASSERT_TRUE(WriteWhole("/dev/null", "gone", &error)) << error.message;
    EXPECT_TRUE(S_ISCHR(Mode("/dev/null")));
}

TEST(SafeOutput, AnInterruptRemovesTheTemporaryFile) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        TempFolder folder;
        folder.Write("out", "before");
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SafeOutput out;
            Failure error;
            if (!out.Open(folder / "out", &error) || !out.Write("part of it")) _exit(10);
            raise(signal);
            _exit(11);  // not reached: the signal ends the process
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(folder.Names(), std::vector<std::string>{"out"}) << signal;
        EXPECT_EQ(folder.Read("out"), "before");
    }
}

TEST(SafeOutput, APrivateFolderIsOnlyForThisUser) {
    std::string first;
    Failure error;
    ASSERT_TRUE(MakePrivateFolder("korvel-test-", &first, &error)) << error.message;
    EXPECT_EQ(Mode(first), S_IFDIR | 0700);
    fs::remove(first);
}

// The pages folder is found again by its name: made only this user's, taken again as it is, and refused
// when that name is anything else (a link to a folder, a folder others may enter, a file).
TEST(SafeOutput, TheUsersFolderIsMadeTakenAgainAndNeverAnythingElse) {
    TempFolder temp;
    setenv("TMPDIR", temp.path().c_str(), 1);
    const std::string name = "korvel-pages-" + std::to_string(geteuid());
    const std::string path = temp.path() + "/" + name;
    struct Case {
        const char* what;
        std::function<void()> prepare;
        bool taken;
    } cases[] = {
        {"made", [] {}, true},
        {"taken again", [] {}, true},
        {"a link to a folder",
         [&] {
             fs::remove_all(path);
             fs::create_directory(temp.path() + "/elsewhere");
             fs::create_directory_symlink(temp.path() + "/elsewhere", path);
         },
         false},
        {"open to others",
         [&] {
             fs::remove(path);
             fs::create_directory(path);
             chmod(path.c_str(), 0755);
         },
         false},
        {"a file",
         [&] {
             fs::remove_all(path);
             std::ofstream(path) << "x";
         },
         false},
    };
    for (const Case& c : cases) {
        c.prepare();
        std::string folder;
        Failure error;
        EXPECT_EQ(OpenUserFolder("korvel-pages", &folder, &error), c.taken) << c.what;
        if (c.taken) {
            EXPECT_EQ(folder, path) << c.what;
            EXPECT_EQ(Mode(path), S_IFDIR | 0700) << c.what;
        } else {
            EXPECT_NE(error.message.find(path), std::string::npos) << c.what << ": " << error.message;
        }
    }
    unsetenv("TMPDIR");
}

}  // namespace
}  // namespace korvel::testing
