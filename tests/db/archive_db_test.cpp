// SPDX-License-Identifier: MIT
// archive, export and report with --db answer as they do with --dir for the same files: one planted
// archive (repeats across files and subfolders, a gap, a clock set-back inside a file, a PC clock that
// named a file too early, damaged lines, a decimal value, CRLF line ends, a last line without its line
// end) loaded into SQLite and into the PostgreSQL these tests start, every answer compared.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "cli_process.h"
#include "support/databases.h"
#include "support/record_lines.h"

namespace korvel::testing {
namespace {

// The one line that says where the records were read from, and the JSON key that does.
std::string WithoutSource(std::string text) {
    if (text.rfind("folder: ", 0) == 0 || text.rfind("database: ", 0) == 0)
        text.erase(0, text.find('\n') + 1);
    return text;
}

std::string JsonWithoutSource(const std::string& text) {
    nlohmann::ordered_json j = nlohmann::ordered_json::parse(text);
    j.erase("folder");
    j.erase("database");
    return j.dump(1);
}

void PlantArchive(const TempFolder& dir) {
    std::string damaged = RecordLines(200, 209);
    damaged[damaged.find('\n') + 5] ^= 1;  // record 201's checksum no longer fits
    dir.Write(RecordFileName(10), RecordLines(0, 99));
    dir.Write("pc2/" + RecordFileName(20), RecordLines(90, 149));  // repeats ten of the first
    dir.Write(RecordFileName(30), damaged + "not a record\r\n" + RecordLines(210, 219));
    dir.Write(RecordFileName(40), RecordLines(300, 320) + RecordLines(280, 285));  // a gap, then set back
    // Named by a PC clock that was an hour behind: its records still come after the file before.
    std::string last = RecordLines(321, 330);
    last.pop_back();
    dir.Write(RecordFileName(5), last);
    std::string crlf;
    for (int seq = 0; seq < 5; ++seq) {
        std::string line = RecordLine(seq, "0456");
        line.insert(line.size() - 1, "\r");
        crlf += line;
    }
    dir.Write("pc2/" + RecordFileName(50, 456), crlf + RecordLine("2024-01-31 08:20:05+08:00 12.5 0456"));
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Where two long texts part, rather than both of them.
std::string FirstDifference(const std::string& a, const std::string& b) {
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    const size_t from = at < 80 ? 0 : at - 80;
    return "at byte " + std::to_string(at) + ":\n" + a.substr(from, 160) + "\n---\n" + b.substr(from, 160);
}

// Every answer from the folder and from the database (named in messages as shown), pairwise.
void ExpectSameAnswers(const std::string& folder, const std::string& db, const std::string& shown) {
    struct Question {
        std::vector<std::string> args;
        bool json;
    };
    const std::vector<Question> questions = {
        {{"archive"}, false},
        {{"archive", "--json", "--limit", "300"}, true},
        {{"export", "--product", "123"}, false},
        {{"export", "--product", "123", "--format", "json", "--from", "2024-01-31 08:10", "--to",
          "2024-01-31 16:00"},
         false},
        {{"export", "--product", "456"}, false},
        {{"report", "--product", "456"}, false},
        {{"export", "--product", "9"}, false},
    };
    for (const Question& question : questions) {
        std::vector<std::string> from_dir = question.args, from_db = question.args;
        from_dir.insert(from_dir.end(), {"--dir", folder});
        from_db.insert(from_db.end(), {"--db", db});
        SCOPED_TRACE(::testing::PrintToString(from_db));
        const ProcessResult a = RunCli(from_dir), b = RunCli(from_db);
        EXPECT_EQ(b.exit_code, a.exit_code) << b.err;
        if (question.json) {
            EXPECT_EQ(JsonWithoutSource(b.out), JsonWithoutSource(a.out));
        } else if (question.args[0] == "report") {
            // The page names where its records came from; the rest is the same.
            // The page counts what the device took since by the clock: a folder run after the database's
            // one stands for it when the clock moved on to the next record in between.
            std::string page = Replaced(a.out, folder, shown);
            if (b.out != page) page = Replaced(RunCli(from_dir).out, folder, shown);
            EXPECT_TRUE(b.out == page) << FirstDifference(b.out, page);
        } else {
            EXPECT_EQ(WithoutSource(b.out), WithoutSource(a.out));
        }
        EXPECT_EQ(b.err, Replaced(a.err, folder, shown));
    }
}

void IngestAndCompare(const std::string& db, const std::function<void(const std::string&)>& forget_bytes) {
    const std::string shown = Replaced(db, PostgresServer::kPassword, "***");
    TempFolder dir;
    PlantArchive(dir);
    const ProcessResult ingest = RunCli({"ingest", "--dir", dir.path(), "--db", db});
    ASSERT_EQ(ingest.exit_code, 5) << ingest.err;  // the damaged lines
    const ProcessResult sure = RunCli({"archive", "--dir", dir.path()});
    ASSERT_NE(sure.out.find("clock set back: 1"), std::string::npos) << sure.out;
    ASSERT_NE(sure.out.find("damaged lines: 2"), std::string::npos) << sure.out;
    ExpectSameAnswers(dir.path(), db, shown);

    // A file an older korvel-cli loaded kept no bytes: the database says so, and ingest completes it.
    forget_bytes(RecordFileName(40));
    const ProcessResult older = RunCli({"archive", "--db", db});
    EXPECT_EQ(older.exit_code, 5);
    EXPECT_NE(older.out.find(RecordFileName(40) + ": loaded by an older korvel-cli"), std::string::npos)
        << older.out;
    const ProcessResult again = RunCli({"ingest", "--dir", dir.path(), "--db", db});
    EXPECT_NE(again.out.find("files: 6 (1 loaded, 5 loaded before)"), std::string::npos) << again.out;
    EXPECT_NE(again.out.find(", 0 new"), std::string::npos) << again.out;
    ExpectSameAnswers(dir.path(), db, shown);
}

TEST(DatabaseArchive, SqliteAnswersAsTheFolderDoes) {
    TempFolder db_dir;
    const std::string db = db_dir / "korvel.sqlite";
    IngestAndCompare(db, [&](const std::string& name) {
        EXPECT_EQ(
            SqliteExec(db, "DELETE FROM file_contents WHERE file = (SELECT id FROM files WHERE name = '" +
                               name + "')"),
            "");
    });
}

TEST(DatabaseArchive, PostgresAnswersAsTheFolderDoes) {
    PostgresServer server;
    if (!server.skip_reason().empty()) GTEST_SKIP() << server.skip_reason();
    ASSERT_TRUE(server.running()) << server.error();
    const std::string url = server.CreateDatabase("archive");
    IngestAndCompare(url, [&](const std::string& name) {
        EXPECT_EQ(
            PostgresQuery(url, "DELETE FROM file_contents WHERE file = (SELECT id FROM files WHERE name = '" +
                                   name + "')"),
            std::vector<std::string>{});
    });
}

// The read commands write nothing: a database of this build's schema answers them, an older one is left
// as it is for ingest to upgrade, and a newer one is refused. SQLite's file keeps every byte; PostgreSQL
// answers them for a user that may only read (no temporary tables either).
TEST(DatabaseArchive, ReadsWriteNothingAndLeaveAnOlderSchemaToIngest) {
    TempFolder dir, db_dir;
    dir.Write(RecordFileName(0), RecordLines(0, 99));
    struct Backend {
        std::string load_url, read_url;
        std::function<std::string(const std::string&)> exec;  // empty when it went well
        std::function<std::string()> state;                   // what a write would change
        std::string to_older;                                 // back one schema, as an older build left it
        int current;                                          // the schema this build writes
    };
    std::vector<Backend> backends;
    const std::string sqlite = db_dir / "korvel.sqlite";
    backends.push_back({sqlite, sqlite, [&](const std::string& sql) { return SqliteExec(sqlite, sql); },
                        [&] { return db_dir.Read("korvel.sqlite"); },
                        "DROP TABLE ledger; DROP TABLE ledger_findings; UPDATE korvel_schema SET version = 5",
                        6});
    PostgresServer server;
    if (server.running()) {
        const std::string url = server.CreateDatabase("reads");
        const std::string reader = "postgresql://reader:" + std::string(PostgresServer::kPassword) +
                                   "@/reads?host=" + server.socket_folder();
        auto exec = [url](const std::string& sql) {
            const std::vector<std::string> rows = PostgresQuery(url, sql);
            return rows.empty() ? std::string() : rows.front();
        };
        backends.push_back(
            {url, reader, exec,
             [url] {
                 return ::testing::PrintToString(PostgresQuery(
                     url,
                     "SELECT (SELECT version FROM korvel_schema), to_regclass('file_contents'), "
                     "to_regclass('devices'), (SELECT count(*) FROM files)"));
             },
             "DROP TABLE ledger, ledger_findings; UPDATE korvel_schema SET version = 4", 5});
    } else {
        std::cerr << "PostgreSQL left out: " << server.skip_reason() << server.error() << '\n';
    }
    const std::vector<std::vector<std::string>> reads = {
        {"archive"}, {"export", "--product", "123"}, {"report", "--product", "123"}, {"fleet", "--json"}};
    for (const Backend& backend : backends) {
        SCOPED_TRACE(backend.load_url);
        ASSERT_EQ(RunCli({"ingest", "--dir", dir.path(), "--db", backend.load_url}).exit_code, 0);
        if (backend.read_url != backend.load_url) {
            ASSERT_EQ(
                backend.exec("CREATE ROLE reader LOGIN PASSWORD '" + std::string(PostgresServer::kPassword) +
                             "'; REVOKE ALL ON DATABASE reads FROM PUBLIC; GRANT CONNECT ON DATABASE "
                             "reads TO reader; GRANT SELECT ON ALL TABLES IN SCHEMA public TO reader"),
                "");
        }
        struct Schema {
            std::string change;  // from the one before
            std::string words;   // what a read says; empty: it answers
        };
        const std::vector<Schema> schemas = {
            {"", ""},
            {backend.to_older, "has schema version " + std::to_string(backend.current - 1) +
                                   ", older than this korvel-cli reads (" + std::to_string(backend.current) +
                                   "); run korvel-cli ingest with the same --db to upgrade it"},
            {"UPDATE korvel_schema SET version = 99",
             "has schema version 99, newer than this korvel-cli knows (" + std::to_string(backend.current) +
                 "); use a newer korvel-cli"},
        };
        for (const Schema& schema : schemas) {
            SCOPED_TRACE(schema.change);
            if (!schema.change.empty()) {
                ASSERT_EQ(backend.exec(schema.change), "");
            }
            const std::string before = backend.state();
            for (const std::vector<std::string>& read : reads) {
                std::vector<std::string> args = read;
                args.insert(args.end(), {"--db", backend.read_url});
                SCOPED_TRACE(read.front());
                const ProcessResult result = RunCli(args);
                if (schema.words.empty()) {
                    EXPECT_TRUE(result.exit_code == 0 || result.exit_code == 5) << result.err;
                    EXPECT_NE(result.out, "");
                } else {
                    EXPECT_EQ(result.exit_code, 4);
                    EXPECT_EQ(result.out, "");
                    EXPECT_NE(result.err.find(schema.words), std::string::npos) << result.err;
                }
            }
            EXPECT_TRUE(backend.state() == before) << "a read wrote to the database";
        }
    }
}

TEST(DatabaseArchive, SourcesThatCannotBeReadSaySoAndHowToGoOn) {
    TempFolder dir, db_dir, nothing;
    dir.Write(RecordFileName(0), RecordLines(0, 9));
    ASSERT_EQ(RunCli({"ingest", "--dir", nothing.path(), "--db", db_dir / "empty.sqlite"}).exit_code, 0);
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string words;
    };
    const std::vector<Case> cases = {
        {{"archive", "--dir", dir.path(), "--db", db_dir / "a.sqlite"},
         2,
         "--dir excludes --db: give one of them"},
        {{"export", "--product", "123", "--db", db_dir / "empty.sqlite"},
         2,
         "no record files in the database " + (db_dir / "empty.sqlite") +
             "; load them with korvel-cli ingest"},
        // A mistyped name reads nothing and leaves no empty database behind.
        {{"archive", "--db", db_dir / "typo.sqlite"}, 4, "there is no database " + (db_dir / "typo.sqlite")},
        {{"report", "--db", "mysql://host/db"}, 4, "names no database korvel-cli knows"},
        {{"archive", "--db", "postgresql://nobody@/korvel?host=" + (db_dir / "no-server")},
         4,
         "cannot connect to the database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words);
        const ProcessResult result = RunCli(c.args);
        EXPECT_EQ(result.exit_code, c.exit_code);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(c.words), std::string::npos) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(db_dir / "typo.sqlite"));
}

}  // namespace
}  // namespace korvel::testing
