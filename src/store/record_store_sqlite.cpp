// SPDX-License-Identifier: MIT
// The records in one SQLite file, through the library's C interface. The file keeps a rollback journal
// (not a write-ahead log): a reader then needs nothing beside the file, so a user who may read the file
// but not write its folder can read it; a crash keeps every committed batch whole. Several ingests of one
// machine take turns through the busy timeout, and readers wait for a commit the same way.
#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "store/ledger_witness.h"
#include "store/record_store.h"
#include "store/record_store_backends.h"
#include "text/civil_time.h"
#include "text/failure_texts.h"
#include "text/shown.h"
#include "text/utf8.h"

namespace korvel {
namespace {

Failure SqliteFailure(const std::string& what, const std::string& path, int code, const char* message);

constexpr const char* kSchemaSteps[] = {
    // 1: the files and their records.
    R"(CREATE TABLE korvel_schema (version INTEGER NOT NULL);
INSERT INTO korvel_schema VALUES (0);
CREATE TABLE files (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  size INTEGER NOT NULL,
  hash TEXT NOT NULL,
  path TEXT NOT NULL,
  product INTEGER,
  host TEXT NOT NULL,
  ingested INTEGER NOT NULL,
  records INTEGER NOT NULL,
  added INTEGER NOT NULL,
  damaged INTEGER NOT NULL,
  UNIQUE (name, size, hash));
CREATE TABLE records (
  product INTEGER NOT NULL,
  line TEXT NOT NULL,
  utc INTEGER NOT NULL,
  offset_minutes INTEGER NOT NULL,
  value TEXT NOT NULL,
  file INTEGER NOT NULL,
  PRIMARY KEY (product, line)) WITHOUT ROWID;)",
    // 2: the gaps per device, and the newest load per device at a glance.
    R"(CREATE INDEX files_by_product ON files (product, ingested);
CREATE VIEW gaps AS
WITH ordered AS (
  SELECT product, utc, line, lag(utc) OVER w AS before_utc, lag(line) OVER w AS before_line
  FROM records WINDOW w AS (PARTITION BY product ORDER BY utc, line)),
steps AS (
  SELECT product, utc - before_utc AS step, count(*) AS times
  FROM ordered WHERE utc > before_utc GROUP BY product, utc - before_utc),
usual AS (
  SELECT product, step AS seconds FROM (
    SELECT product, step, row_number() OVER (PARTITION BY product ORDER BY times DESC, step) AS rank
    FROM steps) WHERE rank = 1)
SELECT o.product AS product,
       substr(o.before_line, 1, 25) AS gap_start, substr(o.line, 1, 25) AS gap_end,
       o.before_utc AS start_utc, o.utc AS end_utc,
       max((o.utc - o.before_utc + coalesce(u.seconds, 121) / 2) / coalesce(u.seconds, 121) - 1, 1) AS missing
FROM ordered o LEFT JOIN usual u ON u.product = o.product
WHERE 2 * (o.utc - o.before_utc) > 3 * coalesce(u.seconds, 121);)",
    // 3: each file's bytes as loaded, its lines in their order, damaged ones too: what archive --db reads.
    R"(CREATE TABLE file_contents (
  file INTEGER PRIMARY KEY REFERENCES files (id),
  bytes BLOB NOT NULL);)",
    // 4: per device its count, its oldest and newest record, and how often each step between neighbouring
    // distinct record times occurs (which gives the usual interval, the gaps and the records missing, as
    // the gaps view finds them), kept up to date by every load, so that fleet need not read every record.
    R"(CREATE TABLE devices (
  product INTEGER PRIMARY KEY,
  records INTEGER NOT NULL,
  first_utc INTEGER NOT NULL,
  last_utc INTEGER NOT NULL,
  last_line TEXT NOT NULL,
  last_offset INTEGER NOT NULL);
CREATE TABLE device_steps (
  product INTEGER NOT NULL,
  step INTEGER NOT NULL,
  times INTEGER NOT NULL,
  PRIMARY KEY (product, step)) WITHOUT ROWID;
INSERT INTO devices
  SELECT product, records, first_utc, last_utc, line, offset_minutes FROM (
    SELECT product, line, offset_minutes, count(*) OVER p AS records, min(utc) OVER p AS first_utc,
           max(utc) OVER p AS last_utc,
           row_number() OVER (PARTITION BY product ORDER BY utc DESC, line DESC) AS rank
    FROM records WINDOW p AS (PARTITION BY product))
  WHERE rank = 1;
INSERT INTO device_steps
  SELECT product, step, count(*) FROM (
    SELECT product, utc - lag(utc) OVER (PARTITION BY product ORDER BY utc) AS step
    FROM (SELECT DISTINCT product, utc FROM records))
  WHERE step IS NOT NULL GROUP BY product, step;)",
    // 5: product numbers above 2,147,483,647, which an older korvel-cli stored less 2^32, as the files'
    // names carry them; and a file or folder name that is not UTF-8 kept as its bytes beside the name
    // shown.
    R"(UPDATE records SET product = product + 4294967296 WHERE product < 0;
UPDATE files SET product = product + 4294967296 WHERE product < 0;
UPDATE devices SET product = product + 4294967296 WHERE product < 0;
UPDATE device_steps SET product = product + 4294967296 WHERE product < 0;
ALTER TABLE files ADD COLUMN raw_name BLOB;
ALTER TABLE files ADD COLUMN raw_path BLOB;
UPDATE files SET raw_name = CAST(name AS BLOB), name = korvel_shown(name) WHERE NOT korvel_text(name);)",
    // 6: the witness of the upload folders' ledgers: each entry as ingest sent it and when it arrived (by
    // this machine's clock, seconds since 1970 UTC), never changed; and what ingest found a ledger to
    // contradict in it.
    R"(CREATE TABLE ledger (
  ledger_id TEXT NOT NULL,
  sequence INTEGER NOT NULL,
  kind TEXT NOT NULL,
  utc_time TEXT NOT NULL,
  pc_clock TEXT NOT NULL,
  host TEXT NOT NULL,
  product INTEGER NOT NULL,
  file TEXT NOT NULL,
  size INTEGER NOT NULL,
  sha256 TEXT NOT NULL,
  first_key TEXT NOT NULL,
  last_key TEXT NOT NULL,
  records INTEGER NOT NULL,
  previous TEXT NOT NULL,
  hash TEXT NOT NULL,
  received INTEGER NOT NULL,
  PRIMARY KEY (ledger_id, sequence));
CREATE INDEX ledger_by_product ON ledger (product);
CREATE INDEX ledger_by_file ON ledger (file);
CREATE TABLE ledger_findings (
  ledger_id TEXT NOT NULL,
  sequence INTEGER NOT NULL,
  kind TEXT NOT NULL,
  product INTEGER NOT NULL,
  file TEXT NOT NULL,
  local_hash TEXT NOT NULL,
  host TEXT NOT NULL,
  received INTEGER NOT NULL,
  UNIQUE (ledger_id, sequence, kind, local_hash));
CREATE INDEX ledger_findings_by_product ON ledger_findings (product);
CREATE TRIGGER ledger_no_update BEFORE UPDATE ON ledger
  BEGIN SELECT RAISE(ABORT, 'the ledger table is append-only: a witnessed entry is never changed'); END;
CREATE TRIGGER ledger_no_delete BEFORE DELETE ON ledger
  BEGIN SELECT RAISE(ABORT, 'the ledger table is append-only: a witnessed entry is never removed'); END;
CREATE TRIGGER ledger_findings_no_update BEFORE UPDATE ON ledger_findings
  BEGIN SELECT RAISE(ABORT, 'the ledger_findings table is append-only'); END;
CREATE TRIGGER ledger_findings_no_delete BEFORE DELETE ON ledger_findings
  BEGIN SELECT RAISE(ABORT, 'the ledger_findings table is append-only'); END;)",
};
static_assert(std::size(kSchemaSteps) == kSqliteSchemaVersion);

// The columns of the ledger as ReadWitnessed takes them.
constexpr const char* kWitnessedColumns =
    "SELECT ledger_id, sequence, kind, utc_time, pc_clock, host, product, file, size, sha256, first_key, "
    "last_key, records, previous, hash, received FROM ledger";

class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr); }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }
    void Bind(int at, int64_t value) { sqlite3_bind_int64(statement_, at, value); }
    void Bind(int at, const std::string& text) {
        sqlite3_bind_text(statement_, at, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
    }
    void BindNull(int at) { sqlite3_bind_null(statement_, at); }
    void BindBlob(int at, const std::string& bytes) {
        sqlite3_bind_blob64(statement_, at, bytes.data(), bytes.size(), SQLITE_STATIC);
    }
    int Step() { return sqlite3_step(statement_); }
    void Reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    int64_t Int(int column) const { return sqlite3_column_int64(statement_, column); }
    bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    std::string Blob(int column) const {
        const auto* data = static_cast<const char*>(sqlite3_column_blob(statement_, column));
        return data ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : "";
    }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : "";
    }

  private:
    sqlite3_stmt* statement_ = nullptr;
};

class SqliteStore final : public RecordStore {
  public:
    SqliteStore(sqlite3* db, const std::string& path) : db_(db), path_(Shown(path)) {}
    ~SqliteStore() override { sqlite3_close_v2(db_); }
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    std::string Name() const override { return path_; }
    int CurrentSchemaVersion() const override { return kSqliteSchemaVersion; }

    Failure Prepare() override {
        // A file an older korvel-cli left in write-ahead mode goes back to a rollback journal here; where
        // another program has it open just now, the next ingest does it.
        Exec("PRAGMA journal_mode=DELETE", "");
        if (Failure f =
                Exec("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-65536;", "cannot prepare the database"))
            return f;
        RegisterFunctions();
        if (Failure f = Exec("BEGIN IMMEDIATE", "cannot write to the database")) return f;
        Failure failure;
        const int version = SchemaVersion(failure);
        if (!failure) failure = SchemaProblem(*this, version, StoreUse::Load);
        for (int step = version; !failure && step < kSqliteSchemaVersion; ++step) {
            failure = Exec(kSchemaSteps[step], "cannot create the database's tables");
            if (!failure)
                failure = Exec(("UPDATE korvel_schema SET version = " + std::to_string(step + 1)).c_str(),
                               "cannot create the database's tables");
        }
        if (!failure) failure = Exec("COMMIT", "cannot write to the database");
        if (failure) Exec("ROLLBACK", "");
        return failure;
    }

    int SchemaVersion(Failure& failure) override {
        Statement exists(db_, "SELECT count(*) FROM sqlite_master WHERE name = 'korvel_schema'");
        if (!exists || exists.Step() != SQLITE_ROW) {
            failure = Error("cannot read the database");
            return 0;
        }
        if (exists.Int(0) == 0) return 0;
        Statement version(db_, "SELECT version FROM korvel_schema");
        if (!version || version.Step() != SQLITE_ROW) {
            failure = Error("cannot read the database's schema version");
            return 0;
        }
        return static_cast<int>(version.Int(0));
    }

    bool HasFile(const StoredFile& file, Failure& failure) override {
        if (!has_file_)
            has_file_.emplace(db_,
                              "SELECT 1 FROM files f JOIN file_contents c ON c.file = f.id "
                              "WHERE f.name = ? AND f.size = ? AND f.hash = ?");
        Statement& query = *has_file_;
        query.Bind(1, file.name);
        query.Bind(2, file.size);
        query.Bind(3, file.hash);
        const int result = query.Step();
        query.Reset();
        if (result == SQLITE_ROW) return true;
        if (result != SQLITE_DONE) failure = Error("cannot read the database");
        return false;
    }

    Failure AddFile(const StoredFile& file, int64_t& added, bool& loaded) override {
        added = 0;
        loaded = false;
        const std::string what = failure_text::LoadingFiles(file.path, file.path, 1);
        if (Failure f = Exec("BEGIN IMMEDIATE", what.c_str())) return f;
        Failure failure = Load(file, what, added, loaded);
        if (!failure && loaded) failure = WriteWitness(what);
        if (!failure && loaded) failure = Exec("COMMIT", what.c_str());
        if (failure || !loaded) {
            Exec("ROLLBACK", "");
            added = 0;
            loaded = false;
        }
        if (!failure && loaded) pending_witness_ = {};
        return failure;
    }

    // The files in one transaction: each is still wholly in or wholly out, and the batch costs one commit
    // (with a rollback journal, a few flushes to the disk) rather than one per file.
    Failure AddFiles(const std::vector<const StoredFile*>& files,
                     std::vector<FileOutcome>& outcomes) override {
        outcomes.clear();
        if (files.empty()) return {};
        const std::string what =
            failure_text::LoadingFiles(files.front()->path, files.back()->path, files.size());
        if (Failure f = Exec("BEGIN IMMEDIATE", what.c_str())) return f;
        std::vector<FileOutcome> done;
        for (const StoredFile* file : files) {
            FileOutcome outcome;
            Failure failure = Load(*file, failure_text::LoadingFiles(file->path, file->path, 1),
                                   outcome.added, outcome.loaded);
            if (failure) {
                Exec("ROLLBACK", "");
                return failure;
            }
            done.push_back(outcome);
        }
        if (Failure f = WriteWitness(what); f || (f = Exec("COMMIT", what.c_str()))) {
            Exec("ROLLBACK", "");
            return f;
        }
        pending_witness_ = {};
        outcomes = std::move(done);
        return {};
    }

    Failure CommitWitness() override {
        if (pending_witness_.empty()) return {};
        const char* what = "cannot send the ledger's entries to the database";
        if (Failure f = Exec("BEGIN IMMEDIATE", what)) return f;
        if (Failure f = WriteWitness(what); f || (f = Exec("COMMIT", what))) {
            Exec("ROLLBACK", "");
            return f;
        }
        pending_witness_ = {};
        return {};
    }

    Failure Witnessed(const std::string& ledger_id, std::vector<WitnessedEntry>& entries) override {
        // Two statements rather than one with an OR, so that one ledger's entries come by its key.
        const std::string sql = std::string(kWitnessedColumns) +
                                (ledger_id.empty() ? "" : " WHERE ledger_id = ?") +
                                " ORDER BY ledger_id, sequence";
        Statement query(db_, sql.c_str());
        if (!query) return Error("cannot read the database's ledger");
        if (!ledger_id.empty()) query.Bind(1, ledger_id);
        return ReadWitnessed(query, entries);
    }

    Failure WitnessedFiles(const std::string& ledger_id, const std::vector<std::string>& files,
                           std::vector<WitnessedEntry>& entries) override {
        const std::string sql = std::string(kWitnessedColumns) +
                                " WHERE file = ? AND ledger_id <> ? ORDER BY ledger_id, sequence";
        Statement query(db_, sql.c_str());
        if (!query) return Error("cannot read the database's ledger");
        for (const std::string& file : files) {
            query.Bind(1, file);
            query.Bind(2, ledger_id);
            const Failure failure = ReadWitnessed(query, entries);
            query.Reset();
            if (failure) return failure;
        }
        return {};
    }

  private:
    Failure ReadWitnessed(Statement& query, std::vector<WitnessedEntry>& entries) {
        int result;
        while ((result = query.Step()) == SQLITE_ROW) {
            WitnessedEntry witnessed;
            witnessed.ledger_id = query.Text(0);
            LedgerEntry& e = witnessed.entry;
            e.sequence = static_cast<uint64_t>(query.Int(1));
            e.kind = LedgerKindOf(query.Text(2));
            e.utc_time = query.Text(3);
            e.pc_clock = query.Text(4);
            e.host = query.Text(5);
            e.product = static_cast<uint64_t>(query.Int(6));
            e.file = query.Text(7);
            e.size = static_cast<uint64_t>(query.Int(8));
            e.sha256 = query.Text(9);
            e.first_key = query.Text(10);
            e.last_key = query.Text(11);
            e.records = static_cast<uint64_t>(query.Int(12));
            e.previous = query.Text(13);
            e.hash = query.Text(14);
            witnessed.received_utc = query.Int(15);
            entries.push_back(std::move(witnessed));
        }
        if (result != SQLITE_DONE) return Error("cannot read the database's ledger");
        return {};
    }

  public:
    Failure Fleet(std::vector<FleetDevice>& devices) override {
        // From the devices' summaries, which every load keeps up to date: the gaps as the gaps view
        // finds them, without reading every record.
        const std::string sql = R"(
WITH usual AS (
  SELECT product, step AS seconds FROM (
    SELECT product, step, row_number() OVER (PARTITION BY product ORDER BY times DESC, step) AS rank
    FROM device_steps WHERE step > 0 AND times > 0)
  WHERE rank = 1),
g AS (
  SELECT s.product, sum(s.times) AS gaps,
         sum(s.times * max((s.step + coalesce(u.seconds, 121) / 2) / coalesce(u.seconds, 121) - 1, 1))
           AS missing
  FROM device_steps s LEFT JOIN usual u ON u.product = s.product
  WHERE 2 * s.step > 3 * coalesce(u.seconds, 121) AND s.times > 0 GROUP BY s.product),
recorders AS (SELECT product FROM devices UNION SELECT product FROM files WHERE product IS NOT NULL)
SELECT r.product, coalesce(d.records, 0), d.first_utc, d.last_utc, d.last_offset,
  (SELECT ingested FROM files WHERE product = r.product ORDER BY ingested DESC, id DESC LIMIT 1),
  (SELECT host FROM files WHERE product = r.product ORDER BY ingested DESC, id DESC LIMIT 1),
  coalesce(g.gaps, 0), coalesce(g.missing, 0),
  (SELECT coalesce(sum(damaged), 0) FROM files WHERE product = r.product),
  coalesce(u.seconds, 0),
  (SELECT count(*) FROM ledger WHERE product = r.product),
  EXISTS (SELECT 1 FROM ledger_findings WHERE product = r.product) OR EXISTS (
    SELECT 1 FROM ledger e WHERE e.product = r.product AND e.previous <> coalesce(
      (SELECT p.hash FROM ledger p WHERE p.ledger_id = e.ledger_id AND p.sequence = e.sequence - 1),
      CASE WHEN e.sequence = 1 THEN ')" +
                                std::string(kLedgerGenesis) + R"(' END))
FROM recorders r LEFT JOIN devices d ON d.product = r.product LEFT JOIN g ON g.product = r.product
  LEFT JOIN usual u ON u.product = r.product
ORDER BY r.product)";
        Statement query(db_, sql.c_str());
        if (!query) return Error("cannot read the database");
        int result;
        while ((result = query.Step()) == SQLITE_ROW) {
            FleetDevice device;
            device.product = query.Int(0);
            device.records = query.Int(1);
            device.first_utc = query.Int(2);
            device.last_utc = query.Int(3);
            device.last_offset = static_cast<int16_t>(query.Int(4));
            if (!query.IsNull(5)) device.ingested_utc = query.Int(5);
            device.ingested_host = query.Text(6);
            device.gaps = query.Int(7);
            device.missing = query.Int(8);
            device.damaged = query.Int(9);
            device.interval = query.Int(10);
            device.ledger_entries = query.Int(11);
            device.ledger_broken = query.Int(12) != 0;
            devices.push_back(std::move(device));
        }
        if (result != SQLITE_DONE) return Error("cannot read the database");
        return {};
    }

    Failure ListFiles(std::vector<StoredFileEntry>& files) override {
        Statement query(
            db_,
            "SELECT f.id, coalesce(f.raw_name, f.name), f.path, coalesce(f.raw_path, ''), "
            "c.file IS NOT NULL FROM files f LEFT JOIN file_contents c ON c.file = f.id ORDER BY f.id");
        if (!query) return Error("cannot read the database");
        int result;
        while ((result = query.Step()) == SQLITE_ROW)
            files.push_back({query.Int(0), query.Blob(1), query.Text(2), query.Blob(3), query.Int(4) != 0});
        if (result != SQLITE_DONE) return Error("cannot read the database");
        return {};
    }

    Failure FileBytes(int64_t id, std::string& bytes) override {
        if (!file_bytes_) file_bytes_.emplace(db_, "SELECT bytes FROM file_contents WHERE file = ?");
        Statement& query = *file_bytes_;
        query.Bind(1, id);
        const int result = query.Step();
        if (result == SQLITE_ROW) {
            const auto* data = static_cast<const char*>(sqlite3_column_blob(query.get(), 0));
            bytes.assign(data ? data : "", static_cast<size_t>(sqlite3_column_bytes(query.get(), 0)));
        }
        Failure failure;
        if (result != SQLITE_ROW) failure = Error("cannot read a file's lines from the database");
        query.Reset();
        return failure;
    }

  private:
    // What the schema's steps call: whether text holds as text in the database, and how it is shown.
    void RegisterFunctions() {
        auto holds = [](sqlite3_context* context, int, sqlite3_value** values) {
            const auto* bytes = static_cast<const char*>(sqlite3_value_blob(values[0]));
            const std::string_view text(bytes ? bytes : "",
                                        static_cast<size_t>(sqlite3_value_bytes(values[0])));
            sqlite3_result_int(context, HoldsAsText(text) ? 1 : 0);
        };
        auto shown = [](sqlite3_context* context, int, sqlite3_value** values) {
            const auto* bytes = static_cast<const char*>(sqlite3_value_blob(values[0]));
            const std::string text = Shown(
                std::string_view(bytes ? bytes : "", static_cast<size_t>(sqlite3_value_bytes(values[0]))));
            sqlite3_result_text(context, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        };
        sqlite3_create_function(db_, "korvel_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, holds,
                                nullptr, nullptr);
        sqlite3_create_function(db_, "korvel_shown", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, shown,
                                nullptr, nullptr);
    }

    // What the devices table holds of one device.
    struct DeviceSummary {
        bool known = false;
        int64_t records = 0, first = 0, last = 0;  // the newest record: its time, line and offset
        std::string last_line;
        int64_t last_offset = 0;
    };

    Failure ReadSummary(int64_t product, DeviceSummary& summary, const std::string& what) {
        Statement& query = Cached(read_device_,
                                  "SELECT records, first_utc, last_utc, last_line, last_offset FROM devices "
                                  "WHERE product = ?");
        if (!query) return Error(what.c_str());
        const Reuse again{query};
        query.Bind(1, product);
        const int result = query.Step();
        if (result == SQLITE_ROW) {
            summary = {true, query.Int(0), query.Int(1), query.Int(2), query.Text(3), query.Int(4)};
        } else if (result != SQLITE_DONE) {
            return Error(what.c_str());
        }
        return {};
    }

    // One device's records, of which added receives the new ones.
    Failure InsertRecords(const std::vector<const StoredRecord*>& records, int64_t id,
                          const std::string& what, int64_t& added) {
        // Rows go in batches of kBatch per statement: one step per row costs more than the insert itself.
        constexpr size_t kBatch = 64;
        auto batch_sql = [](size_t rows) {
            std::string sql = "INSERT INTO records (product, line, utc, offset_minutes, value, file) VALUES ";
            for (size_t i = 0; i < rows; ++i) sql += i ? ",(?,?,?,?,?,?)" : "(?,?,?,?,?,?)";
            return sql + " ON CONFLICT DO NOTHING";
        };
        Statement& full = Cached(batch_, batch_sql(kBatch).c_str());
        if (!full) return Error(what.c_str());
        for (size_t at = 0; at < records.size(); at += kBatch) {
            const size_t rows = std::min(kBatch, records.size() - at);
            std::optional<Statement> rest;
            if (rows < kBatch) {
                rest.emplace(db_, batch_sql(rows).c_str());
                if (!*rest) return Error(what.c_str());
            }
            Statement& insert = rest ? *rest : full;
            const Reuse insert_again{insert};
            for (size_t i = 0; i < rows; ++i) {
                const StoredRecord& record = *records[at + i];
                const int base = static_cast<int>(i * 6);
                insert.Bind(base + 1, record.product);
                insert.Bind(base + 2, record.line);
                insert.Bind(base + 3, record.utc);
                insert.Bind(base + 4, record.offset_minutes);
                insert.Bind(base + 5, record.value);
                insert.Bind(base + 6, id);
            }
            if (insert.Step() != SQLITE_DONE) return Error(what.c_str());
            added += sqlite3_changes(db_);
        }
        return {};
    }

    // Where records land at or before their device's newest: from the device's record before the first of
    // them to its record after the last. The records are keyed by product and line, and a line begins with
    // its clock time, which is its UTC moved by at most kFarthestOffset: so a range of lines holds every
    // record of a range of UTC, and the neighbours are found by widening the range until it holds one.
    struct Landing {
        int64_t from = 0, to = 0;  // UTC, both included
    };
    static constexpr int64_t kFarthestOffset = 100 * 3600;  // an offset is written as ±hh:mm

    // Whether the database holds the record already.
    Failure Holds(const StoredRecord& record, bool& held, const std::string& what) {
        Statement& query = Cached(holds_, "SELECT 1 FROM records WHERE product = ? AND line = ?");
        if (!query) return Error(what.c_str());
        const Reuse again{query};
        query.Bind(1, record.product);
        query.Bind(2, record.line);
        const int result = query.Step();
        if (result != SQLITE_ROW && result != SQLITE_DONE) return Error(what.c_str());
        held = result == SQLITE_ROW;
        return {};
    }

    // The UTC of the device's records whose lines begin with a clock time from `from` to `to`.
    Failure LineTimes(int64_t product, int64_t from, int64_t to, std::vector<int64_t>& times,
                      const std::string& what) {
        Statement& query =
            Cached(line_times_, "SELECT utc FROM records WHERE product = ? AND line >= ? AND line < ?");
        if (!query) return Error(what.c_str());
        const Reuse again{query};
        const std::string low = ClockText(from), high = ClockText(to + 1);
        query.Bind(1, product);
        query.Bind(2, low);
        query.Bind(3, high);
        int result;
        times.clear();
        while ((result = query.Step()) == SQLITE_ROW) times.push_back(query.Int(0));
        if (result != SQLITE_DONE) return Error(what.c_str());
        return {};
    }

    Failure FindLanding(int64_t product, int64_t low, int64_t high, const DeviceSummary& device,
                        Landing& landing, const std::string& what) {
        landing = {low, high};
        std::vector<int64_t> times;
        for (int64_t reach = 2 * kFarthestOffset;; reach *= 2) {
            if (Failure f =
                    LineTimes(product, low - reach - kFarthestOffset, low + kFarthestOffset, times, what))
                return f;
            std::optional<int64_t> best;
            for (int64_t utc : times)
                if (utc < low && (!best || utc > *best)) best = utc;
            if ((best && *best >= low - reach) || low - reach <= device.first) {
                if (best) landing.from = *best;
                break;
            }
        }
        for (int64_t reach = 2 * kFarthestOffset;; reach *= 2) {
            if (Failure f =
                    LineTimes(product, high - kFarthestOffset, high + reach + kFarthestOffset, times, what))
                return f;
            std::optional<int64_t> best;
            for (int64_t utc : times)
                if (utc > high && (!best || utc < *best)) best = utc;
            if ((best && *best <= high + reach) || high + reach >= device.last) {
                if (best) landing.to = *best;
                break;
            }
        }
        return {};
    }

    // How often each step occurs between the device's distinct record times within the landing.
    Failure LandingSteps(int64_t product, const Landing& landing, std::map<int64_t, int64_t>& steps,
                         const std::string& what) {
        std::vector<int64_t> times;
        if (Failure f =
                LineTimes(product, landing.from - kFarthestOffset, landing.to + kFarthestOffset, times, what))
            return f;
        times.erase(std::remove_if(times.begin(), times.end(),
                                   [&](int64_t utc) { return utc < landing.from || utc > landing.to; }),
                    times.end());
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        for (size_t i = 1; i < times.size(); ++i) ++steps[times[i] - times[i - 1]];
        return {};
    }

    // Brings one device's summary up to date after its records of a file went in (added of them new). A
    // record newer than the device's newest before is new for certain, and its steps follow from that
    // newest and one another; records among the older ones (a clock set back, a file that fills a gap, a
    // second recorded twice) change the steps of their landing only, counted before and after they went in.
    Failure Summarize(const std::vector<const StoredRecord*>& records, const DeviceSummary& before,
                      int64_t added, const std::optional<Landing>& landing,
                      const std::map<int64_t, int64_t>& landing_before, const std::string& what) {
        const int64_t product = records.front()->product;
        DeviceSummary after = before;
        after.records += added;
        std::vector<const StoredRecord*> fresh;
        for (const StoredRecord* record : records) {
            if (!before.known || record->utc > before.last) fresh.push_back(record);
            if (!after.known || record->utc < after.first) after.first = record->utc;
            if (!after.known || record->utc > after.last ||
                (record->utc == after.last && record->line > after.last_line)) {
                after.last = record->utc;
                after.last_line = record->line;
                after.last_offset = record->offset_minutes;
            }
            after.known = true;
        }
        Statement& device = Cached(write_device_, R"(INSERT INTO devices VALUES (?, ?, ?, ?, ?, ?)
  ON CONFLICT (product) DO UPDATE SET records = excluded.records, first_utc = excluded.first_utc,
    last_utc = excluded.last_utc, last_line = excluded.last_line, last_offset = excluded.last_offset)");
        if (!device) return Error(what.c_str());
        {
            const Reuse again{device};
            device.Bind(1, product);
            device.Bind(2, after.records);
            device.Bind(3, after.first);
            device.Bind(4, after.last);
            device.Bind(5, after.last_line);
            device.Bind(6, after.last_offset);
            if (device.Step() != SQLITE_DONE) return Error(what.c_str());
        }

        // Each fresh record counted once, however often the file brought it.
        std::sort(fresh.begin(), fresh.end(), [](const StoredRecord* a, const StoredRecord* b) {
            return a->utc != b->utc ? a->utc < b->utc : a->line < b->line;
        });
        fresh.erase(std::unique(fresh.begin(), fresh.end(),
                                [](const StoredRecord* a, const StoredRecord* b) {
                                    return a->utc == b->utc && a->line == b->line;
                                }),
                    fresh.end());
        std::map<int64_t, int64_t> steps;
        if (landing && added > static_cast<int64_t>(fresh.size())) {
            std::map<int64_t, int64_t> landing_after;
            if (Failure f = LandingSteps(product, *landing, landing_after, what)) return f;
            for (const auto& [seconds, times] : landing_before) steps[seconds] -= times;
            for (const auto& [seconds, times] : landing_after) steps[seconds] += times;
        }
        std::optional<int64_t> previous;
        if (before.known) previous = before.last;
        for (const StoredRecord* record : fresh) {
            if (previous && record->utc != *previous) ++steps[record->utc - *previous];
            previous = record->utc;
        }
        Statement& step = Cached(add_step_, R"(INSERT INTO device_steps VALUES (?, ?, ?)
  ON CONFLICT (product, step) DO UPDATE SET times = times + excluded.times)");
        if (!step) return Error(what.c_str());
        for (const auto& [seconds, times] : steps) {
            if (times == 0) continue;
            const Reuse again{step};
            step.Bind(1, product);
            step.Bind(2, seconds);
            step.Bind(3, times);
            if (step.Step() != SQLITE_DONE) return Error(what.c_str());
        }
        return {};
    }

    Failure Load(const StoredFile& file, const std::string& what, int64_t& added, bool& loaded) {
        Statement& insert_file = Cached(insert_file_, R"(INSERT INTO files
  (name, size, hash, path, product, host, ingested, records, added, damaged, raw_name, raw_path)
  VALUES (?, ?, ?, ?, ?, ?, CAST(strftime('%s', 'now') AS INTEGER), ?, 0, ?, ?, ?) ON CONFLICT DO NOTHING)");
        if (!insert_file) return Error(what.c_str());
        const Reuse insert_file_again{insert_file};
        insert_file.Bind(1, file.name);
        insert_file.Bind(2, file.size);
        insert_file.Bind(3, file.hash);
        insert_file.Bind(4, file.path);
        if (file.product) {
            insert_file.Bind(5, *file.product);
        } else {
            insert_file.BindNull(5);
        }
        insert_file.Bind(6, file.host);
        insert_file.Bind(7, file.distinct);
        insert_file.Bind(8, file.damaged);
        for (const auto& [at, raw] : {std::pair{9, &file.raw_name}, std::pair{10, &file.raw_path}}) {
            if (raw->empty()) {
                insert_file.BindNull(at);
            } else {
                insert_file.BindBlob(at, *raw);
            }
        }
        if (insert_file.Step() != SQLITE_DONE) return Error(what.c_str());
        if (sqlite3_changes(db_) == 0) {
            // Another run loaded the same file first, or an older korvel-cli did without its bytes: they
            // are added now, its records are there.
            Statement complete(db_, R"(INSERT INTO file_contents (file, bytes)
  SELECT id, ? FROM files WHERE name = ? AND size = ? AND hash = ? ON CONFLICT DO NOTHING)");
            if (!complete) return Error(what.c_str());
            complete.BindBlob(1, file.bytes);
            complete.Bind(2, file.name);
            complete.Bind(3, file.size);
            complete.Bind(4, file.hash);
            if (complete.Step() != SQLITE_DONE) return Error(what.c_str());
            loaded = sqlite3_changes(db_) > 0;
            return {};
        }
        const int64_t id = sqlite3_last_insert_rowid(db_);
        {
            Statement& contents = Cached(contents_, "INSERT INTO file_contents (file, bytes) VALUES (?, ?)");
            if (!contents) return Error(what.c_str());
            const Reuse contents_again{contents};
            contents.Bind(1, id);
            contents.BindBlob(2, file.bytes);
            if (contents.Step() != SQLITE_DONE) return Error(what.c_str());
        }

        // Device by device, each device's records in the file's order, so its summary follows its rows.
        const std::vector<StoredRecord>& records = file.records;
        std::vector<const StoredRecord*> rows;
        rows.reserve(records.size());
        for (const StoredRecord& record : records) rows.push_back(&record);
        std::stable_sort(rows.begin(), rows.end(), [](const StoredRecord* a, const StoredRecord* b) {
            return a->product < b->product;
        });
        for (size_t begin = 0; begin < rows.size();) {
            size_t end = begin;
            while (end < rows.size() && rows[end]->product == rows[begin]->product) ++end;
            const std::vector<const StoredRecord*> device(rows.begin() + static_cast<ptrdiff_t>(begin),
                                                          rows.begin() + static_cast<ptrdiff_t>(end));
            const int64_t product = device.front()->product;
            DeviceSummary summary;
            if (Failure f = ReadSummary(product, summary, what)) return f;
            // Records at or before the device's newest that the database lacks (not the stop record an
            // incremental download repeats): the steps where they land, before they go in.
            std::optional<Landing> landing;
            std::map<int64_t, int64_t> landing_before;
            if (summary.known) {
                int64_t low = INT64_MAX, high = INT64_MIN;
                for (const StoredRecord* record : device) {
                    if (record->utc > summary.last || (record->utc >= low && record->utc <= high)) continue;
                    bool held = false;
                    if (Failure f = Holds(*record, held, what)) return f;
                    if (held) continue;
                    low = std::min(low, record->utc);
                    high = std::max(high, record->utc);
                }
                if (low <= high) {
                    landing.emplace();
                    if (Failure f = FindLanding(product, low, high, summary, *landing, what)) return f;
                    if (Failure f = LandingSteps(product, *landing, landing_before, what)) return f;
                }
            }
            int64_t device_added = 0;
            if (Failure f = InsertRecords(device, id, what, device_added)) return f;
            if (device_added > 0) {
                if (Failure f = Summarize(device, summary, device_added, landing, landing_before, what))
                    return f;
            }
            added += device_added;
            begin = end;
        }
        Statement& update = Cached(update_, "UPDATE files SET added = ? WHERE id = ?");
        if (!update) return Error(what.c_str());
        const Reuse update_again{update};
        update.Bind(1, added);
        update.Bind(2, id);
        if (update.Step() != SQLITE_DONE) return Error(what.c_str());
        loaded = true;
        return {};
    }

    // The entries and findings waiting for the witness, in the transaction open. An entry witnessed
    // before (by another run meanwhile) stays as it is; where its hash differs, that is a finding.
    Failure WriteWitness(const std::string& what) {
        const WitnessBatch& batch = pending_witness_;
        if (batch.empty()) return {};
        std::vector<WitnessFinding> findings = batch.findings;
        Statement insert(db_, R"(INSERT INTO ledger VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?,
  CAST(strftime('%s', 'now') AS INTEGER)) ON CONFLICT DO NOTHING)");
        Statement held(
            db_, "SELECT hash, product, file, received FROM ledger WHERE ledger_id = ? AND sequence = ?");
        if (!insert || !held) return Error(what.c_str());
        for (const LedgerEntry& e : batch.entries) {
            const std::string kind(LedgerKindWord(e.kind));
            insert.Bind(1, batch.ledger_id);
            insert.Bind(2, static_cast<int64_t>(e.sequence));
            insert.Bind(3, kind);
            insert.Bind(4, e.utc_time);
            insert.Bind(5, e.pc_clock);
            insert.Bind(6, e.host);
            insert.Bind(7, static_cast<int64_t>(e.product));
            insert.Bind(8, e.file);
            insert.Bind(9, static_cast<int64_t>(e.size));
            insert.Bind(10, e.sha256);
            insert.Bind(11, e.first_key);
            insert.Bind(12, e.last_key);
            insert.Bind(13, static_cast<int64_t>(e.records));
            insert.Bind(14, e.previous);
            insert.Bind(15, e.hash);
            const int result = insert.Step();
            insert.Reset();
            if (result != SQLITE_DONE) return Error(what.c_str());
            if (sqlite3_changes(db_) > 0) continue;
            held.Bind(1, batch.ledger_id);
            held.Bind(2, static_cast<int64_t>(e.sequence));
            if (held.Step() == SQLITE_ROW && held.Text(0) != e.hash)
                findings.push_back({batch.ledger_id, e.sequence, WitnessFinding::Kind::Rewritten, held.Int(1),
                                    held.Text(2), e.hash, held.Int(3)});
            held.Reset();
        }
        Statement finding(db_, R"(INSERT INTO ledger_findings VALUES (?, ?, ?, ?, ?, ?, ?,
  CAST(strftime('%s', 'now') AS INTEGER)) ON CONFLICT DO NOTHING)");
        if (!finding) return Error(what.c_str());
        for (const WitnessFinding& f : findings) {
            finding.Bind(1, f.ledger_id);
            finding.Bind(2, static_cast<int64_t>(f.sequence));
            const std::string kind(WitnessFindingWord(f.kind));
            finding.Bind(3, kind);
            finding.Bind(4, f.product);
            finding.Bind(5, f.file);
            finding.Bind(6, f.local_hash);
            finding.Bind(7, batch.host);
            const int result = finding.Step();
            finding.Reset();
            if (result != SQLITE_DONE) return Error(what.c_str());
        }
        return {};
    }

    // A statement prepared once and used for every file; a Reuse resets it when its use ends.
    Statement& Cached(std::optional<Statement>& slot, const char* sql) {
        if (!slot || !*slot) slot.emplace(db_, sql);
        return *slot;
    }
    struct Reuse {
        Statement& statement;
        ~Reuse() { statement.Reset(); }
    };

    Failure Exec(const char* sql, const char* what) {
        if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return {};
        return Error(what);
    }

    Failure Error(const char* what) const {
        return SqliteFailure(what, path_, sqlite3_extended_errcode(db_), sqlite3_errmsg(db_));
    }

    sqlite3* db_;
    std::string path_;
    std::optional<Statement> has_file_;
    std::optional<Statement> file_bytes_;
    std::optional<Statement> insert_file_, contents_, batch_, update_;
    std::optional<Statement> read_device_, write_device_, holds_, line_times_, add_step_;
};

Failure SqliteFailure(const std::string& what, const std::string& path, int code, const char* message) {
    std::string advice;
    switch (code & 0xFF) {
        case SQLITE_FULL:
            advice = "free space on its disk and run ingest again; the files loaded before are kept";
            break;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_CANTOPEN:
            advice = "check that the file and its folder exist and are writable, or name another with --db";
            break;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            advice = "another program holds it; run ingest again when it is done";
            break;
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
            advice = "it is no korvel database or it is damaged; name another file with --db";
            break;
        default:
            advice = "check the file, or name another with --db";
            break;
    }
    return {FailureKind::Other, failure_text::DatabaseFailed(what, path, message, advice), code};
}

}  // namespace

std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, Failure& failure, bool read_only) {
    // The library's memory statistics take a global mutex on every allocation; nothing here reads them.
    static const bool configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) == SQLITE_OK;
    (void)configured;
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(
        path.c_str(), &db,
        (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX,
        nullptr);
    if (result != SQLITE_OK) {
        failure = SqliteFailure("cannot open the database", Shown(path), result,
                                db ? sqlite3_errmsg(db) : sqlite3_errstr(result));
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, 60000);
    return std::make_unique<SqliteStore>(db, path);
}

}  // namespace korvel
