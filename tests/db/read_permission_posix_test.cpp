// SPDX-License-Identifier: MIT
// Who may read what the collection timer wrote: a folder of mode 0750 whose group is the readers', its
// record files and SQLite file (with the -wal and -shm files SQLite keeps beside it) of mode 0640, as the
// service leaves them. A member of the group reads them through korvel-cli; anybody else is told
// "permission denied", not that there is no folder or no database. Root reads everything, so the
// commands run as user nobody, with and without the group.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/record_lines.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr gid_t kReaders = 100;  // "users" on Debian; any group nobody is not in serves

void Give(const std::string& path, mode_t mode) {
    ASSERT_EQ(::chown(path.c_str(), 0, kReaders), 0) << path;
    ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
}

struct Reader {
    const char* name;
    bool member;
    std::vector<std::string> args;  // "SITE" stands for the collected folder
    int exit_code;
    const char* says;  // on stdout or stderr
};

TEST(ReadPermission, AMemberReadsTheCollectedRecordsAndAnybodyElseIsToldPermissionDenied) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the commands as another user";
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "needs setpriv";
    TempDir top;
    fs::permissions(top.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const std::string site = top / "site";
    const std::string upload = site + "/upload";
    const std::string db = site + "/korvel.sqlite";
    fs::create_directories(upload);
    top.Write("site/upload/" + RecordFileName(0), RecordLines(0, 99));
    top.Write("site/upload/" + RecordFileName(1), RecordLines(99, 149));
    const ProcessResult ingest = RunCli({"ingest", "--dir", upload, "--db", db});
    ASSERT_EQ(ingest.exit_code, 0) << ingest.err;
    // What the service's UMask=0027 and its user's group leave.
    Give(site, 0750);
    Give(upload, 0750);
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(site)) {
        if (entry.is_regular_file()) Give(entry.path().string(), 0640);
    }
    // A rollback journal: nothing beside the file that a reader without write access would need.
    ASSERT_FALSE(fs::exists(db + "-wal"));
    ASSERT_FALSE(fs::exists(db + "-journal"));

    const std::vector<Reader> readers = {
        {"member archive", true, {"archive", "--dir", "SITE/upload"}, 0, "records: 150"},
        {"member archive of the database",
         true,
         {"archive", "--db", "SITE/korvel.sqlite"},
         0,
         "records: 150"},
        // The records end in 2024: the recorder is long overdue, which fleet reports with 5.
        {"member fleet", true, {"fleet", "--db", "SITE/korvel.sqlite"}, 5, "123"},
        {"other archive", false, {"archive", "--dir", "SITE/upload"}, 2, "permission denied"},
        {"other report",
         false,
         {"report", "--dir", "SITE/upload", "--output", "/dev/null"},
         2,
         "permission denied"},
        {"other ingest",
         false,
         {"ingest", "--dir", "SITE/upload", "--db", "/dev/null"},
         2,
         "permission denied"},
        {"other fleet", false, {"fleet", "--db", "SITE/korvel.sqlite"}, 4, "permission denied"},
        {"other export",
         false,
         {"export", "--product", "123", "--db", "SITE/korvel.sqlite"},
         4,
         "permission denied"},
    };
    for (const Reader& reader : readers) {
        std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534"};
        argv.push_back(reader.member ? "--groups=" + std::to_string(kReaders) : "--clear-groups");
        argv.push_back(CliPath());
        for (std::string arg : reader.args) {
            if (arg.rfind("SITE", 0) == 0) arg.replace(0, 4, site);
            argv.push_back(arg);
        }
        const ProcessResult result = RunProcess(argv);
        if (result.exit_code == 127) GTEST_SKIP() << "the program is out of reach for user nobody";
        EXPECT_EQ(result.exit_code, reader.exit_code) << reader.name << ": " << result.err;
        EXPECT_NE((result.out + result.err).find(reader.says), std::string::npos)
            << reader.name << ": " << result.out << result.err;
        if (!reader.member) {
            EXPECT_EQ(result.err.find("not a folder"), std::string::npos) << result.err;
            EXPECT_EQ(result.err.find("there is no database"), std::string::npos) << result.err;
        }
    }
}

}  // namespace
}  // namespace korvel::testing
