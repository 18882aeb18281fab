// SPDX-License-Identifier: MIT
// Loading record files into a SQLite file through the real library: what a run adds, skips and
// counts, where each record came from, the schema's upgrade and the gaps view. The command line, the
// real PostgreSQL, concurrent and killed runs and a full disk: tests/db/ingest_test.cpp.
// Not on Windows: the Windows build has no database library.
#include "store/record_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/databases.h"
#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel::testing {
namespace {

struct Write {
    std::string relative;
    std::string bytes;
};

struct IngestRun {
    std::vector<Write> writes;  // before the run
    std::string host;
    size_t loaded, skipped;
    int64_t added, damaged;
};

struct Case {
    const char* name;
    std::vector<IngestRun> runs;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

std::string Damaged(std::string lines, size_t line) {
    size_t at = 0;
    for (size_t i = 1; i < line; ++i) at = lines.find('\n', at) + 1;
    lines[at + 20] ^= 1;  // a digit of the offset: the checksum no longer holds
    return lines;
}

// What the database must hold, worked out from the files: each distinct intact line once, with the
// first file (in name order, the download order here) and host that brought it.
std::map<std::string, std::string> ExpectedRecords(
    const std::vector<std::pair<std::string, std::string>>& loads) {
    std::map<std::string, std::string> first;
    for (const auto& [origin, bytes] : loads) {
        std::istringstream in(bytes);
        for (std::string line; std::getline(in, line);) {
            const std::string text = line.substr(0, line.size() - 5);
            char crc[8];
            std::snprintf(crc, sizeof crc, "%04x", Crc16(text));
            if (line.substr(line.size() - 4) == crc) first.emplace(line, origin);
        }
    }
    return first;
}

class RecordStoreTest : public ::testing::TestWithParam<Case> {};

TEST_P(RecordStoreTest, LoadsEachRecordOnceFromTheFileThatBroughtItFirst) {
    TempFolder dir, db_dir;
    const std::string db = db_dir / "korvel.sqlite";
    std::vector<std::pair<std::string, std::string>> loads;  // per run, the files it brought
    for (const IngestRun& run : GetParam().runs) {
        std::vector<std::pair<std::string, std::string>> brought;
        for (const Write& write : run.writes) {
            dir.Write(write.relative, write.bytes);
            brought.emplace_back(write.relative + "@" + run.host, write.bytes);
        }
        std::sort(brought.begin(), brought.end());  // the names' order is the download order
        loads.insert(loads.end(), brought.begin(), brought.end());

        Failure failure;
        std::unique_ptr<RecordStore> store = OpenRecordStore(db, failure);
        ASSERT_TRUE(store) << failure.message;
        ASSERT_FALSE(store->Prepare()) << "prepare";
        const IngestReport report = IngestFolder(*store, dir.path(), run.host);
        ASSERT_FALSE(report.failure) << report.failure.message;
        EXPECT_EQ(report.loaded, run.loaded);
        EXPECT_EQ(report.skipped, run.skipped);
        EXPECT_EQ(report.added, run.added);
        EXPECT_EQ(report.damaged, run.damaged);
    }
    std::vector<std::string> expected;
    for (const auto& [line, origin] : ExpectedRecords(loads)) expected.push_back(line + "|" + origin);
    std::vector<std::string> stored = SqliteQuery(
        db, "SELECT r.line || '|' || f.path || '@' || f.host FROM records r JOIN files f ON f.id = r.file");
    std::sort(expected.begin(), expected.end());
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(SqliteNumber(db, "SELECT count(*) FROM records"),
              SqliteNumber(db, "SELECT sum(added) FROM files"));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, RecordStoreTest,
    ::testing::Values(Case{"TheSameFilesTwiceAddNothing",
                           {{{{RecordFileName(0), RecordLines(0, 99)},
                              {"d/" + RecordFileName(1), RecordLines(99, 199)}},
                             "pc-1",
                             2,
                             0,
                             200,
                             0},
                            {{}, "pc-1", 0, 2, 0, 0}}},
                      Case{"AnIncrementalDownloadAddsOnlyItsNewRecordsAndKeepsTheFirstHost",
                           {{{{RecordFileName(0), RecordLines(0, 99)}}, "pc-1", 1, 0, 100, 0},
                            {{{RecordFileName(1), RecordLines(99, 149)}}, "pc-2", 1, 1, 50, 0}}},
                      Case{"AFileThatGrewIsLoadedAgainItsOldRecordsOnce",
                           {{{{RecordFileName(0), RecordLines(0, 49)}}, "pc-1", 1, 0, 50, 0},
                            {{{RecordFileName(0), RecordLines(0, 79)}}, "pc-1", 1, 0, 30, 0}}},
                      Case{"DamagedLinesAreCountedNotLoaded",
                           {{{{RecordFileName(0), Damaged(RecordLines(0, 9), 4) + "no checksum here\n"}},
                             "pc-1",
                             1,
                             0,
                             9,
                             2}}},
                      // Beyond the hundred damaged lines a file's check lists, the rest are counted too.
                      Case{"EveryDamagedLineIsCounted",
                           {{{{RecordFileName(0), RecordLines(0, 9) +
                                                      [] {
                                                          std::string lines;
                                                          for (int i = 0; i < 150; ++i)
                                                              lines += "no checksum here\n";
                                                          return lines;
                                                      }()}},
                             "pc-1",
                             1,
                             0,
                             10,
                             150}}},
                      Case{"TwoDevicesAndFilesTheyShareAFolderWith",
                           {{{{RecordFileName(0), RecordLines(0, 9)},
                              {RecordFileName(1, 456), RecordLines(0, 9, "0456")},
                              {"copy/" + RecordFileName(0), RecordLines(0, 9)}},
                             "pc-1",
                             2,
                             1,
                             20,
                             0}}}),
    [](const auto& test) { return std::string(test.param.name); });

// The bytes this process has read so far, as Linux counts them.
int64_t BytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string word; io >> word;)
        if (word == "rchar:") {
            int64_t count = 0;
            io >> count;
            return count;
        }
    return -1;
}

// A file's bytes are hashed, parsed and stored from one read: loading a folder reads about its size once
// (the database's own reads are a fraction of that), not once for each of the three.
TEST(IngestFolder, ReadsEachFileOnce) {
    TempFolder dir, db_dir;
    size_t folder_bytes = 0;
    for (int k = 0; k < 8; ++k) {
        const std::string lines = RecordLines(k * 3000, k * 3000 + 2999);
        dir.Write(RecordFileName(k), lines);
        folder_bytes += lines.size();
    }
    Failure failure;
    std::unique_ptr<RecordStore> store = OpenRecordStore(db_dir / "korvel.sqlite", failure);
    ASSERT_TRUE(store) << failure.message;
    ASSERT_FALSE(store->Prepare());
    const int64_t before = BytesRead();
    if (before < 0) GTEST_SKIP() << "no /proc/self/io here";
    const IngestReport report = IngestFolder(*store, dir.path(), "pc-1");
    const int64_t read = BytesRead() - before;
    ASSERT_FALSE(report.failure) << report.failure.message;
    EXPECT_EQ(report.loaded, 8u);
    EXPECT_GE(read, static_cast<int64_t>(folder_bytes));
    EXPECT_LT(read, static_cast<int64_t>(folder_bytes) * 3 / 2);
}

// A file that cannot be read is named once among the problems and loads nothing; the files around it load.
TEST(IngestFolder, AnUnreadableFileIsNamedAndTheOthersLoad) {
    TempFolder dir, db_dir;
    dir.Write(RecordFileName(0), RecordLines(0, 9));
    const std::string gone = dir / RecordFileName(1);
    ASSERT_EQ(::symlink((dir / "nowhere").c_str(), gone.c_str()), 0);  // even root cannot read this one
    dir.Write(RecordFileName(2), RecordLines(10, 19));
    Failure failure;
    std::unique_ptr<RecordStore> store = OpenRecordStore(db_dir / "korvel.sqlite", failure);
    ASSERT_TRUE(store) << failure.message;
    ASSERT_FALSE(store->Prepare());
    const IngestReport report = IngestFolder(*store, dir.path(), "pc-1");
    ASSERT_FALSE(report.failure) << report.failure.message;
    EXPECT_EQ(report.files, 3u);
    EXPECT_EQ(report.loaded, 2u);
    EXPECT_EQ(report.added, 20);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_NE(report.problems[0].find(RecordFileName(1)), std::string::npos) << report.problems[0];
}

TEST(RecordStoreSchema, AnOlderSchemaIsUpgradedInPlaceAndANewerOneRefused) {
    TempFolder dir, db_dir;
    const std::string db = db_dir / "korvel.sqlite";
    // The first schema as the first release wrote it, with one record of an earlier load.
    const std::string old_line = RecordLine(0);
    const std::string v1 =
        R"(CREATE TABLE korvel_schema (version INTEGER NOT NULL); INSERT INTO korvel_schema VALUES (1);
CREATE TABLE files (id INTEGER PRIMARY KEY, name TEXT NOT NULL, size INTEGER NOT NULL, hash TEXT NOT NULL,
  path TEXT NOT NULL, product INTEGER, host TEXT NOT NULL, ingested INTEGER NOT NULL, records INTEGER NOT NULL,
  added INTEGER NOT NULL, damaged INTEGER NOT NULL, UNIQUE (name, size, hash));
CREATE TABLE records (product INTEGER NOT NULL, line TEXT NOT NULL, utc INTEGER NOT NULL,
  offset_minutes INTEGER NOT NULL, value TEXT NOT NULL, file INTEGER NOT NULL REFERENCES files (id),
  PRIMARY KEY (product, line)) WITHOUT ROWID;
INSERT INTO files VALUES (1, 'old.txt', 1, 'x', 'old.txt', 123, 'pc-0', 0, 1, 1, 0);
INSERT INTO records VALUES (123, ')" +
        old_line.substr(0, old_line.size() - 1) + R"(', 1706659200, 480, '0', 1);)";
    EXPECT_EQ(SqliteExec(db, v1), "");
    // Records 0..49, then 60..99: one gap of ten missing records.
    dir.Write(RecordFileName(0), RecordLines(0, 49) + RecordLines(60, 99));

    Failure failure;
    std::unique_ptr<RecordStore> store = OpenRecordStore(db, failure);
    ASSERT_TRUE(store) << failure.message;
    ASSERT_FALSE(store->Prepare());
    const IngestReport report = IngestFolder(*store, dir.path(), "pc-1");
    EXPECT_EQ(report.added, 89);  // record 0 was there
    EXPECT_EQ(SqliteNumber(db, "SELECT version FROM korvel_schema"), kSqliteSchemaVersion);
    EXPECT_EQ(SqliteQuery(
                  db, "SELECT f.host FROM records r JOIN files f ON f.id = r.file WHERE r.utc = 1706659200"),
              std::vector<std::string>{"pc-0"});
    const std::string before = RecordLine(49), after = RecordLine(60);
    EXPECT_EQ(SqliteQuery(db, "SELECT product, gap_start, gap_end, missing FROM gaps"),
              std::vector<std::string>{"123|" + before.substr(0, 25) + "|" + after.substr(0, 25) + "|10"});
    // The devices' summaries start from the older load's record and follow the new ones.
    std::vector<FleetDevice> fleet;
    ASSERT_FALSE(store->Fleet(fleet));
    ASSERT_EQ(fleet.size(), 1u);
    EXPECT_EQ(fleet[0].records, 90);
    EXPECT_EQ(fleet[0].first_utc, 1706659200);
    EXPECT_EQ(fleet[0].last_utc, 1706659200 + 99 * 121);
    EXPECT_EQ(fleet[0].gaps, 1);
    EXPECT_EQ(fleet[0].missing, 10);
    store.reset();

    EXPECT_EQ(SqliteExec(db, "UPDATE korvel_schema SET version = 99"), "");
    store = OpenRecordStore(db, failure);
    ASSERT_TRUE(store);
    const Failure newer = store->Prepare();
    EXPECT_NE(newer.message.find("schema version 99, newer than this korvel-cli knows"), std::string::npos)
        << newer.message;
}

TEST(ContentHash, TellsFilesThatDifferInAnyByteOrInLength) {
    const std::string base = RecordLines(0, 20);
    std::set<std::string> hashes;
    for (size_t at = 0; at < base.size(); at += 7) {
        std::string changed = base;
        changed[at] ^= 1;
        hashes.insert(ContentHash(changed));
    }
    for (size_t length = 0; length <= 40; ++length) hashes.insert(ContentHash(base.substr(0, length)));
    hashes.insert(ContentHash(base + std::string(1, '\0')));
    EXPECT_EQ(hashes.size(), (base.size() + 6) / 7 + 41 + 1);
    EXPECT_EQ(ContentHash(base).size(), 32u);
}

}  // namespace
}  // namespace korvel::testing
