// SPDX-License-Identifier: MIT
// The database as the witness of a folder's ledger, in SQLite and a real PostgreSQL: what someone who
// controls the PC does to the folder and rewrites the ledger to hide, each shown by verify --ledger --db
// with the entries and files it concerns and the time the database received them; ingest neither sends
// an entry twice nor overwrites one; fleet counts the recorders whose ledger is not intact; the witness
// refuses to be changed.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli_process.h"
#include "ledger/ledger.h"
#include "support/databases.h"
#include "support/files.h"
#include "support/record_lines.h"
#include "text/file_system.h"

namespace korvel::testing {
namespace {

// Four downloads, each recorded in the ledger as a download records it: three of product 123, one of 456.
const std::string kA = RecordFileName(0), kB = RecordFileName(1), kC = RecordFileName(2),
                  kD = RecordFileName(3, 456);

void MakeDownloads(TempDir& dir) {
    const struct {
        const std::string& name;
        std::string bytes;
        unsigned product;
    } downloads[] = {{kA, RecordLines(0, 99), 123},
                     {kB, RecordLines(99, 199), 123},
                     {kC, RecordLines(199, 299), 123},
                     {kD, RecordLines(0, 99, "0456"), 456}};
    for (const auto& d : downloads) {
        dir.Write(d.name, d.bytes);
        ASSERT_FALSE(AppendLedgerEntry(dir.path(), d.name, d.product));
    }
}

Ledger ReadBack(const TempDir& dir) {
    Ledger ledger;
    EXPECT_FALSE(ReadLedger(dir.path(), ledger));
    return ledger;
}

// The ledger written anew as someone who knows its format does it: the same id, the entries numbered
// and each one's link and hash computed again, so that the ledger alone shows nothing.
void ForgeLedger(const TempDir& dir, const Ledger& ledger) {
    std::string text = "korvel ledger 1\t" + ledger.id + "\n";
    std::string previous = kLedgerGenesis;
    uint64_t sequence = 0;
    for (LedgerEntry entry : ledger.entries) {
        entry.sequence = ++sequence;
        entry.previous = previous;
        entry.hash = LedgerEntryHash(entry);
        previous = entry.hash;
        text += LedgerEntryText(entry) + "\t" + entry.hash + "\n";
    }
    WriteFile(dir.path() + "/" + kLedgerFileName, text);
}

// The entry made to fit what the file holds now.
void Refit(const TempDir& dir, LedgerEntry& entry) {
    RecordFileFacts facts;
    ASSERT_FALSE(ReadRecordFileFacts(dir.path() + "/" + entry.file, entry.product, facts));
    entry.size = facts.size;
    entry.sha256 = facts.sha256;
    entry.first_key = facts.first_key;
    entry.last_key = facts.last_key;
    entry.records = facts.records;
}

// Line 51 of B (record 149) with another value, its checksum made to fit.
const std::string kOldLine = RecordLine(149), kNewLine = RecordLine(149, "0123", 999);
void ChangeB(TempDir& dir) {
    std::string bytes = dir.Read(kB);
    bytes.replace(bytes.find(kOldLine), kOldLine.size(), kNewLine);
    dir.Write(kB, bytes);
}

std::string Trimmed(std::string line) {
    while (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
}

// "kind file#entry" of each thing the witness told, and the lines it showed of changed files.
std::multiset<std::string> Told(const std::string& out, std::vector<std::string>& lines) {
    std::multiset<std::string> told;
    for (const std::string& line : Lines(out)) {
        if (line.rfind("    line ", 0) == 0) {
            lines.push_back(line);
            continue;
        }
        for (const char* kind : {"rewritten", "truncated", "deleted", "changed", "other ledger"}) {
            const std::string head = std::string("  ") + kind + ": ";
            if (line.rfind(head, 0) != 0) continue;
            const size_t open = line.find(" (entry ");
            if (std::string(kind) == "other ledger") {
                told.insert(kind);
            } else if (open != std::string::npos) {
                told.insert(std::string(kind) + " " + line.substr(head.size(), open - head.size()) + "#" +
                            line.substr(open + 8, line.find(' ', open + 8) - open - 8));
            }
        }
    }
    return told;
}

class LedgerWitness : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { server_ = new PostgresServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    // A new empty database of each kind.
    std::vector<TestDatabase> Databases() {
        std::vector<TestDatabase> databases = {
            {"sqlite", db_dir_.path() + "/korvel" + std::to_string(++made_) + ".sqlite"}};
        if (server_->running()) {
            databases.push_back(
                {"postgresql", server_->CreateDatabase("witness" + std::to_string(++created_))});
        } else {
            std::printf("PostgreSQL not tested: %s%s\n", server_->skip_reason().c_str(),
                        server_->error().c_str());
        }
        return databases;
    }

    // When the database received entry sequence, as it writes the time itself.
    static std::string Received(const TestDatabase& db, int sequence) {
        const std::string where = " FROM ledger WHERE sequence = " + std::to_string(sequence);
        const std::vector<std::string> rows = db.Query(
            db.sqlite() ? "SELECT strftime('%Y-%m-%d %H:%M:%S', received, 'unixepoch')" + where
                        : "SELECT to_char(received AT TIME ZONE 'UTC', 'YYYY-MM-DD HH24:MI:SS')" + where);
        return rows.size() == 1 ? rows[0] : "?";
    }

    static PostgresServer* server_;
    static int created_;
    TempDir db_dir_;
    int made_ = 0;
};
PostgresServer* LedgerWitness::server_ = nullptr;
int LedgerWitness::created_ = 0;

TEST_F(LedgerWitness, WhatTheLedgerHidesTheWitnessShows) {
    struct Case {
        const char* name;
        std::function<void(TempDir&)> tamper;
        int local_code;                   // verify --ledger without the witness
        std::multiset<std::string> told;  // by verify --ledger --db
        std::vector<std::string> lines;   // of changed files
        std::set<int64_t> not_intact;     // fleet's recorders after the next ingest
    };
    const std::vector<Case> cases = {
        {"untouched", [](TempDir&) {}, 0, {}, {}, {}},
        {"the whole ledger rewritten consistently",
         [](TempDir& dir) {
             Ledger ledger = ReadBack(dir);
             for (LedgerEntry& entry : ledger.entries) entry.host = "elsewhere";
             ForgeLedger(dir, ledger);
         },
         0,
         {"rewritten " + kA + "#1", "rewritten " + kB + "#2", "rewritten " + kC + "#3",
          "rewritten " + kD + "#4"},
         {},
         {123, 456}},
        {"a file replaced, its entry and the chain computed again",
         [](TempDir& dir) {
             ChangeB(dir);
             Ledger ledger = ReadBack(dir);
             Refit(dir, ledger.entries[1]);
             ForgeLedger(dir, ledger);
         },
         0,
         {"changed " + kB + "#2", "rewritten " + kB + "#2", "rewritten " + kC + "#3",
          "rewritten " + kD + "#4"},
         {"    line 51 received: " + Trimmed(kOldLine), "    line 51 now:      " + Trimmed(kNewLine)},
         {123, 456}},
        {"an entry edited, its hash left as it was",
         [](TempDir& dir) {
             std::string text = dir.Read(kLedgerFileName);
             text.replace(text.find("\tdownloaded\t"), 12, "\tadopted\t");
             dir.Write(kLedgerFileName, text);
         },
         5,
         {"rewritten " + kA + "#1"},
         {},
         {123}},
        {"the ledger's last entry removed",
         [](TempDir& dir) {
             std::string text = dir.Read(kLedgerFileName);
             text.erase(text.rfind('\n', text.size() - 2) + 1);
             dir.Write(kLedgerFileName, text);
         },
         5,
         {"truncated " + kD + "#4"},
         {},
         {456}},
        {"a download deleted and its entry taken out, the rest renumbered",
         [](TempDir& dir) {
             Ledger ledger = ReadBack(dir);
             ASSERT_TRUE(RemoveFile(dir.path() + "/" + kC));
             ledger.entries.erase(ledger.entries.begin() + 2);
             ForgeLedger(dir, ledger);
         },
         0,
         {"deleted " + kC + "#3", "rewritten " + kC + "#3", "truncated " + kD + "#4"},
         {},
         {123, 456}},
        {"a file changed and the ledger replaced by one that adopts every file",
         [](TempDir& dir) {
             ChangeB(dir);
             ASSERT_TRUE(RemoveFile(dir.path() + "/" + kLedgerFileName));
             const ProcessResult adopt = RunCli({"verify", "--ledger", "--adopt", dir.path()});
             ASSERT_EQ(adopt.exit_code, 0) << adopt.out << adopt.err;
         },
         0,
         {"other ledger", "changed " + kB + "#2"},
         {"    line 51 received: " + Trimmed(kOldLine), "    line 51 now:      " + Trimmed(kNewLine)},
         {123}},
    };
    for (const Case& c : cases) {
        for (const TestDatabase& db : Databases()) {
            SCOPED_TRACE(std::string(c.name) + " in " + db.kind);
            TempDir dir;
            MakeDownloads(dir);
            const ProcessResult first = RunCli({"ingest", "--dir", dir.path(), "--db", db.url});
            ASSERT_EQ(first.exit_code, 0) << first.out << first.err;
            EXPECT_NE(first.out.find("ledger: 4 entries sent to the database\n"), std::string::npos)
                << first.out;
            c.tamper(dir);

            const ProcessResult local = RunCli({"verify", "--ledger", dir.path()});
            EXPECT_EQ(local.exit_code, c.local_code) << local.out << local.err;
            const ProcessResult witness = RunCli({"verify", "--ledger", "--db", db.url, dir.path()});
            EXPECT_EQ(witness.exit_code, c.told.empty() && c.local_code == 0 ? 0 : 5)
                << witness.out << witness.err;
            std::vector<std::string> lines;
            EXPECT_EQ(Told(witness.out, lines), c.told) << witness.out;
            EXPECT_EQ(lines, c.lines) << witness.out;
            for (const std::string& told : c.told) {
                const size_t hash = told.find('#');
                if (hash == std::string::npos) continue;
                EXPECT_NE(
                    witness.out.find("received " + Received(db, std::stoi(told.substr(hash + 1))) + " UTC"),
                    std::string::npos)
                    << told << "\n"
                    << witness.out;
            }

            // The next ingest sends what is new, overwrites nothing, and says what the ledger contradicts.
            const std::vector<std::string> before =
                db.Query("SELECT ledger_id, sequence, hash FROM ledger ORDER BY 1, 2");
            const ProcessResult again = RunCli({"ingest", "--dir", dir.path(), "--db", db.url});
            EXPECT_EQ(again.exit_code, c.not_intact.empty() ? 0 : 5) << again.out << again.err;
            const std::vector<std::string> after =
                db.Query("SELECT ledger_id, sequence, hash FROM ledger ORDER BY 1, 2");
            for (const std::string& row : before)
                EXPECT_TRUE(std::find(after.begin(), after.end(), row) != after.end()) << row;
            if (c.local_code == 0 && c.told.empty()) {
                EXPECT_EQ(after, before);
                EXPECT_NE(again.out.find("ledger: 0 entries sent to the database\n"), std::string::npos)
                    << again.out;
            }

            const ProcessResult fleet = RunCli({"fleet", "--db", db.url, "--json", "--due", "0"});
            ASSERT_NE(fleet.exit_code, 4) << fleet.err;
            std::set<int64_t> not_intact;
            for (const auto& row : nlohmann::json::parse(fleet.out)) {
                EXPECT_GT(row["ledger_entries"].get<int64_t>(), 0) << row.dump();
                if (row["ledger_intact"] == false) not_intact.insert(row["product"].get<int64_t>());
            }
            EXPECT_EQ(not_intact, c.not_intact);
            const ProcessResult page = RunCli({"fleet", "--db", db.url, "--html"});
            EXPECT_NE(page.out.find("<th>下载账本</th>"), std::string::npos);
            EXPECT_EQ(page.out.find("需处理：") != std::string::npos &&
                          page.out.find("账本不符") != std::string::npos,
                      !c.not_intact.empty());
            const ProcessResult text = RunCli({"fleet", "--db", db.url});
            EXPECT_NE(text.out.find("\n" + std::to_string(c.not_intact.size()) +
                                    " of them with a ledger not intact\n"),
                      std::string::npos)
                << text.out;
        }
    }
}

TEST_F(LedgerWitness, TheWitnessRefusesToBeChangedOrEmptied) {
    TempDir dir;
    MakeDownloads(dir);
    struct Attempt {
        const char* sql;
        bool postgresql_only;
    };
    const Attempt attempts[] = {
        {"UPDATE ledger SET hash = sha256", false},
        {"DELETE FROM ledger WHERE sequence = 4", false},
        {"UPDATE ledger_findings SET local_hash = ''", false},
        {"DELETE FROM ledger_findings", false},
        {"TRUNCATE ledger", true},
        {"TRUNCATE ledger_findings", true},
    };
    for (const TestDatabase& db : Databases()) {
        SCOPED_TRACE(db.kind);
        ASSERT_EQ(RunCli({"ingest", "--dir", dir.path(), "--db", db.url}).exit_code, 0);
        // A finding to protect too: the last entry taken out of the ledger.
        std::string text = dir.Read(kLedgerFileName);
        dir.Write(kLedgerFileName, text.substr(0, text.rfind('\n', text.size() - 2) + 1));
        ASSERT_EQ(RunCli({"ingest", "--dir", dir.path(), "--db", db.url}).exit_code, 5);
        dir.Write(kLedgerFileName, text);
        const std::vector<std::string> held = db.Query("SELECT * FROM ledger ORDER BY sequence");
        const std::vector<std::string> found = db.Query("SELECT * FROM ledger_findings");
        ASSERT_EQ(held.size(), 4u);
        ASSERT_EQ(found.size(), 1u);
        for (const Attempt& attempt : attempts) {
            if (attempt.postgresql_only && db.sqlite()) continue;
            SCOPED_TRACE(attempt.sql);
            const std::string error =
                db.sqlite() ? SqliteExec(db.url, attempt.sql) : PostgresQuery(db.url, attempt.sql).at(0);
            EXPECT_NE(error.find(db.sqlite() ? "append-only" : "only grows"), std::string::npos) << error;
        }
        EXPECT_EQ(db.Query("SELECT * FROM ledger ORDER BY sequence"), held);
        EXPECT_EQ(db.Query("SELECT * FROM ledger_findings"), found);
    }
}

// An entry received whose link is not the hash of the one received before it breaks its recorder's
// ledger too, though no ingest found anything: a second computer sent it, say.
TEST_F(LedgerWitness, FleetCountsAChainThatBreaksAmongTheEntriesReceived) {
    TempDir dir;
    MakeDownloads(dir);
    const std::string copy =
        "INSERT INTO ledger SELECT ledger_id, 5, kind, utc_time, pc_clock, host, product, file, size, "
        "sha256, "
        "first_key, last_key, records, '" +
        std::string(64, 'f') + "', hash, received FROM ledger WHERE sequence = 4";
    for (const TestDatabase& db : Databases()) {
        SCOPED_TRACE(db.kind);
        ASSERT_EQ(RunCli({"ingest", "--dir", dir.path(), "--db", db.url}).exit_code, 0);
        if (db.sqlite()) {
            ASSERT_EQ(SqliteExec(db.url, copy), "");
        } else {
            ASSERT_EQ(PostgresQuery(db.url, copy), std::vector<std::string>{});
        }
        const ProcessResult fleet = RunCli({"fleet", "--db", db.url, "--json"});
        ASSERT_NE(fleet.exit_code, 4) << fleet.err;
        std::vector<std::string> intact;
        for (const auto& row : nlohmann::json::parse(fleet.out))
            intact.push_back(row["product"].dump() + " " + row["ledger_intact"].dump());
        EXPECT_EQ(intact, (std::vector<std::string>{"123 true", "456 false"}));
    }
}

// The collecting role of the README: it loads and witnesses, and may neither change what was received
// nor choose the time it was received.
TEST_F(LedgerWitness, ACollectingRoleMayOnlyAddToTheWitness) {
    if (!server_->running()) GTEST_SKIP() << server_->skip_reason() << server_->error();
    const std::string owner = server_->CreateDatabase("collected");
    const std::string collector = "postgresql://collector:" + std::string(PostgresServer::kPassword) +
                                  "@/collected?host=" + server_->socket_folder();
    TempDir dir, none;
    none.Write(kA, RecordLines(0, 99));
    // The owner makes the tables; then the grants of the README.
    ASSERT_EQ(RunCli({"ingest", "--dir", none.path(), "--db", owner}).exit_code, 0);
    ASSERT_EQ(PostgresQuery(owner, "CREATE ROLE collector LOGIN PASSWORD '" +
                                       std::string(PostgresServer::kPassword) +
                                       "'; "
                                       R"(GRANT CONNECT, TEMPORARY ON DATABASE collected TO collector;
GRANT USAGE ON SCHEMA public TO collector;
GRANT SELECT ON ALL TABLES IN SCHEMA public TO collector;
GRANT INSERT ON files, file_contents, records, devices, device_steps, ledger, ledger_findings TO collector;
GRANT UPDATE ON files, devices, device_steps TO collector;
GRANT USAGE ON SEQUENCE files_id_seq TO collector;)"),
              std::vector<std::string>{});
    // Records of a month the records have no partition for yet.
    MakeDownloads(dir);
    dir.Write("later/" + RecordFileName(9), RecordLines(20000, 20099));
    ASSERT_FALSE(AppendLedgerEntry(dir.path(), "later/" + RecordFileName(9), 123));
    const ProcessResult ingest = RunCli({"ingest", "--dir", dir.path(), "--db", collector});
    ASSERT_EQ(ingest.exit_code, 0) << ingest.out << ingest.err;
    EXPECT_EQ(PostgresNumber(owner, "SELECT count(*) FROM ledger"), 5);
    for (const char* sql : {"UPDATE ledger SET host = 'x'", "DELETE FROM ledger", "TRUNCATE ledger",
                            "DROP TABLE ledger", "ALTER TABLE ledger DISABLE TRIGGER ALL"}) {
        SCOPED_TRACE(sql);
        const std::vector<std::string> rows = PostgresQuery(collector, sql);
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].rfind("ERROR: ", 0), 0u) << rows[0];
    }
    // A row it adds by hand gets the server's time, whatever it says.
    EXPECT_EQ(
        PostgresQuery(collector,
                      "INSERT INTO ledger SELECT 'forged', 1, kind, utc_time, pc_clock, host, product, file, "
                      "size, sha256, first_key, last_key, records, previous, hash, '2001-01-01' FROM ledger "
                      "WHERE sequence = 1"),
        std::vector<std::string>{});
    EXPECT_EQ(PostgresQuery(owner, "SELECT received > '2020-01-01' FROM ledger WHERE ledger_id = 'forged'"),
              std::vector<std::string>{"t"});
}

// Where no ledger was ever received, fleet speaks of none.
TEST_F(LedgerWitness, FleetWithoutLedgersSaysNothingOfThem) {
    TempDir dir;
    dir.Write(kA, RecordLines(0, 99));
    for (const TestDatabase& db : Databases()) {
        SCOPED_TRACE(db.kind);
        const ProcessResult ingest = RunCli({"ingest", "--dir", dir.path(), "--db", db.url});
        ASSERT_EQ(ingest.exit_code, 0);
        EXPECT_EQ(ingest.out.find("ledger"), std::string::npos) << ingest.out;
        for (const std::vector<std::string>& args : {std::vector<std::string>{"fleet", "--db", db.url},
                                                     {"fleet", "--db", db.url, "--json"},
                                                     {"fleet", "--db", db.url, "--html"}}) {
            const ProcessResult fleet = RunCli(args);
            EXPECT_EQ(fleet.out.find("ledger"), std::string::npos) << fleet.out;
            EXPECT_EQ(fleet.out.find("账本"), std::string::npos) << fleet.out;
        }
    }
}

}  // namespace
}  // namespace korvel::testing
