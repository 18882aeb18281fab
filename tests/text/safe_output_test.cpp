// SPDX-License-Identifier: MIT
// The output writer on plain files: a new or an existing file gets the whole output and nothing else is
// left in the folder, also after a failure or an abandoned write. Links, modes, pipes and signals are in
// safe_output_posix_test.cpp.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_folder.h"
#include "text/safe_output.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

TEST(SafeOutput, NewAndExistingFilesGetTheWholeOutputAndNothingElseIsLeft) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> before;  // name, contents
        std::vector<std::string> names;                           // the folder's entries afterwards
    } cases[] = {
        {"a new file", {}, {"out"}},
        {"a longer file is replaced whole", {{"out", std::string(300000, 'o')}}, {"out"}},
        {"another file's partial name is left alone",
         {{"out.partial", "the operator's own notes"}},
         {"out", "out.partial"}},
    };
    for (const Case& c : cases) {
        TempFolder folder;
        for (const auto& [name, bytes] : c.before) folder.Write(name, bytes);
        const std::string bytes(200000, 'x');
        Failure error;
        ASSERT_TRUE(WriteWhole(folder / "out", bytes, &error)) << c.what << ": " << error.message;
        EXPECT_EQ(folder.Names(), c.names) << c.what;
        EXPECT_EQ(folder.Read("out"), bytes) << c.what;
        for (const auto& [name, contents] : c.before) {
            if (name != "out") {
                EXPECT_EQ(folder.Read(name), contents) << c.what;
            }
        }
    }
}

TEST(SafeOutput, AFailureOrAnAbandonLeavesTheNameAsItWas) {
    TempFolder folder;
    folder.Write("out", "before");
    {
        SafeOutput out;
        Failure error;
        ASSERT_TRUE(out.Open(folder / "out", &error)) << error.message;
        ASSERT_TRUE(out.Write("half an export"));
    }  // never committed
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out"});
    EXPECT_EQ(folder.Read("out"), "before");

    Failure error;
    EXPECT_FALSE(WriteWhole(folder.path(), "x", &error));
    EXPECT_NE(error.message.find("it is a folder"), std::string::npos) << error.message;
    EXPECT_FALSE(WriteWhole(folder / "absent/out", "x", &error));
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out"});
}

// A new file: its locked temporary is the prefix and eight letters or digits; a taken name keeps what it
// had and the bytes wait for the next name; any other failure or an abandon leaves nothing behind.
TEST(SafeOutput, ANewFileNeverTakesATakenName) {
    TempFolder folder;
    folder.Write("taken", "an earlier file");
    struct Case {
        const char* what;
        std::vector<std::string> names;  // tried in turn; only the last may succeed
        bool published;
        std::vector<std::string> left;  // the folder's entries afterwards
    } cases[] = {
        {"a free name", {"free1"}, true, {"free1", "taken"}},
        {"a taken name, then a free one", {"taken", "free2"}, true, {"free1", "free2", "taken"}},
        {"a name in a missing folder", {"absent/x"}, false, {"free1", "free2", "taken"}},
        {"abandoned after a taken name", {"taken"}, false, {"free1", "free2", "taken"}},
    };
    for (const Case& c : cases) {
        SafeOutput out;
        Failure error;
        ASSERT_TRUE(out.OpenNew(folder.path(), ".new-", &error)) << c.what << ": " << error.message;
        const std::string name = fs::path(out.Temporary()).filename().string();
        EXPECT_EQ(name.size(), 13u) << name;
        EXPECT_EQ(name.rfind(".new-", 0), 0u) << name;
        EXPECT_EQ(name.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 5),
                  std::string::npos)
            << name;
        ASSERT_TRUE(out.Write("new bytes"));
        for (size_t i = 0; i < c.names.size(); ++i) {
            const bool last = i + 1 == c.names.size();
            const bool ok = out.Publish(folder / c.names[i], &error);
            EXPECT_EQ(ok, last && c.published) << c.what << ": " << c.names[i];
            if (c.names[i] == "taken") {
                EXPECT_EQ(error.code, EEXIST) << c.what;
                EXPECT_TRUE(fs::exists(out.Temporary())) << c.what;  // kept for the next name
            }
        }
        if (c.published) {
            EXPECT_EQ(folder.Read(c.names.back()), "new bytes") << c.what;
        }
        out.Abandon();
        EXPECT_EQ(folder.Names(), c.left) << c.what;
        EXPECT_EQ(folder.Read("taken"), "an earlier file") << c.what;
    }
}

TEST(SafeOutput, EachPrivateFolderIsNew) {
    std::string first, second;
    Failure error;
    ASSERT_TRUE(MakePrivateFolder("korvel-test-", &first, &error)) << error.message;
    ASSERT_TRUE(MakePrivateFolder("korvel-test-", &second, &error)) << error.message;
    EXPECT_NE(first, second);
    EXPECT_TRUE(fs::is_directory(first));
    EXPECT_TRUE(fs::is_directory(second));
    fs::remove(first);
    fs::remove(second);
}

}  // namespace
}  // namespace korvel::testing
