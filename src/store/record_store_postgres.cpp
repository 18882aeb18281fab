// SPDX-License-Identifier: MIT
// The records in a PostgreSQL server, through libpq. Many collecting computers load at once. Files go
// in batches, one transaction each: the batch's devices take their turns first, in product order; then
// each file's row is claimed (its unique name, size and hash make a second claim wait for the first and
// then find it taken). A record newer than its device's newest goes in by binary COPY, one per batch;
// the others come by COPY into a temporary table and go over with ON CONFLICT DO NOTHING in key order,
// so two loads of overlapping records neither double a record nor deadlock. The records table is
// partitioned by month; the months a batch needs are created, under an advisory lock, in a short
// transaction of their own before it.
#include <libpq-fe.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "archive/archive.h"
#include "store/ledger_witness.h"
#include "store/record_store.h"
#include "store/record_store_backends.h"
#include "store/record_store_postgres_library.h"
#include "text/civil_time.h"
#include "text/failure_texts.h"
#include "text/shown.h"

namespace korvel {
namespace {

// The gaps per device, as archive finds them in an archive whose clock was never set back.
const std::string kGapsView = R"(CREATE VIEW gaps AS
WITH ordered AS (
  SELECT product, taken, line, lag(taken) OVER w AS before_taken, lag(line) OVER w AS before_line
  FROM records WINDOW w AS (PARTITION BY product ORDER BY taken, line)),
stepped AS (
  SELECT *, extract(epoch FROM taken - before_taken)::bigint AS step FROM ordered
  WHERE before_taken IS NOT NULL),
steps AS (
  SELECT product, step, count(*) AS times FROM stepped WHERE step > 0 GROUP BY product, step),
usual AS (
  SELECT product, step AS seconds FROM (
    SELECT product, step, row_number() OVER (PARTITION BY product ORDER BY times DESC, step) AS rank
    FROM steps) ranked WHERE rank = 1)
SELECT s.product AS product,
       substr(s.before_line, 1, 25) AS gap_start, substr(s.line, 1, 25) AS gap_end,
       s.before_taken AS start_time, s.taken AS end_time,
       greatest((s.step + coalesce(u.seconds, 121) / 2) / coalesce(u.seconds, 121) - 1, 1) AS missing
FROM stepped s LEFT JOIN usual u ON u.product = s.product
WHERE 2 * s.step > 3 * coalesce(u.seconds, 121);)";

const std::string kSchemaSteps[] = {
    // 1: the files, their records partitioned by month, and the function that adds a month.
    R"(CREATE TABLE korvel_schema (version integer NOT NULL);
INSERT INTO korvel_schema VALUES (0);
CREATE TABLE files (
  id bigserial PRIMARY KEY,
  name text NOT NULL,
  size bigint NOT NULL,
  hash text NOT NULL,
  path text NOT NULL,
  product bigint,
  host text NOT NULL,
  ingested timestamptz NOT NULL DEFAULT now(),
  records bigint NOT NULL,
  added bigint NOT NULL,
  damaged bigint NOT NULL,
  UNIQUE (name, size, hash));
CREATE TABLE records (
  product bigint NOT NULL,
  taken timestamptz NOT NULL,
  line text NOT NULL,
  offset_minutes smallint NOT NULL,
  value text NOT NULL,
  file bigint NOT NULL,
  PRIMARY KEY (product, line, taken)) PARTITION BY RANGE (taken);
CREATE INDEX records_by_time ON records (product, taken);
CREATE FUNCTION korvel_add_month(at timestamptz) RETURNS void LANGUAGE plpgsql AS $$
DECLARE
  first timestamptz := date_trunc('month', at AT TIME ZONE 'UTC') AT TIME ZONE 'UTC';
  name text := 'records_' || to_char(first AT TIME ZONE 'UTC', 'YYYY_MM');
BEGIN
  PERFORM pg_advisory_xact_lock(hashtext('korvel records partitions'));
  IF to_regclass(name) IS NULL THEN
    EXECUTE format('CREATE TABLE %I PARTITION OF records FOR VALUES FROM (%L) TO (%L)',
                   name, first, first + interval '1 month');
  END IF;
END $$;)",
    // 2: the gaps per device, and the newest load per device at a glance.
    std::string("CREATE INDEX files_by_product ON files (product, ingested);\n") + kGapsView,
    // 3: each file's bytes as loaded, its lines in their order, damaged ones too: what archive --db reads.
    // And one index for the records rather than two: the key in time order per device serves the gaps
    // view as it is, new records go in at its end, and lines compare byte by byte. Per device its count,
    // first and last record, and how often each step between neighbouring record times occurs (which
    // gives the usual interval, the gaps and the records missing, as the gaps view finds them), kept up to
    // date by every load, so that fleet need not read every record.
    std::string(R"(CREATE TABLE file_contents (
  file bigint PRIMARY KEY REFERENCES files (id),
  bytes bytea NOT NULL);
DROP VIEW gaps;
DROP INDEX IF EXISTS records_by_time;
ALTER TABLE records DROP CONSTRAINT records_pkey;
ALTER TABLE records ALTER COLUMN line TYPE text COLLATE "C";
ALTER TABLE records ADD PRIMARY KEY (product, taken, line);
CREATE OR REPLACE FUNCTION korvel_claim_device(p bigint) RETURNS bigint LANGUAGE plpgsql AS $$
BEGIN
  PERFORM pg_advisory_xact_lock(hashtext('korvel device')::bigint * 4294967296 + p);
  RETURN (SELECT extract(epoch FROM max(taken))::bigint FROM records WHERE product = p);
END $$;
CREATE TABLE devices (
  product bigint PRIMARY KEY,
  records bigint NOT NULL,
  first_taken timestamptz NOT NULL,
  last_taken timestamptz NOT NULL);
CREATE TABLE device_steps (
  product bigint NOT NULL,
  step bigint NOT NULL,
  times bigint NOT NULL,
  PRIMARY KEY (product, step));
INSERT INTO devices SELECT product, count(*), min(taken), max(taken) FROM records GROUP BY product;
INSERT INTO device_steps
  SELECT product, step, count(*) FROM (
    SELECT product, extract(epoch FROM taken - lag(taken) OVER (PARTITION BY product ORDER BY taken))::bigint AS step
    FROM (SELECT DISTINCT product, taken FROM records) t) s
  WHERE step IS NOT NULL GROUP BY product, step;
CREATE OR REPLACE FUNCTION korvel_steps(p bigint, lo bigint, hi bigint) RETURNS TABLE (step bigint, times bigint)
LANGUAGE sql STABLE AS $$
  WITH bounds AS (
    SELECT coalesce((SELECT max(taken) FROM records WHERE product = p AND taken < to_timestamp(lo)),
                    to_timestamp(lo)) AS a,
           coalesce((SELECT min(taken) FROM records WHERE product = p AND taken > to_timestamp(hi)),
                    to_timestamp(hi)) AS b),
  times AS (SELECT DISTINCT taken FROM records, bounds WHERE product = p AND taken BETWEEN a AND b),
  stepped AS (SELECT extract(epoch FROM taken - lag(taken) OVER (ORDER BY taken))::bigint AS step FROM times)
  SELECT step, count(*) FROM stepped WHERE step IS NOT NULL GROUP BY step
$$;
)") + kGapsView,
    // 4: product numbers above 2,147,483,647, which an older korvel-cli stored less 2^32, as the files'
    // names carry them; and a file or folder name that is not UTF-8 kept as its bytes beside the name
    // shown.
    R"(UPDATE records SET product = product + 4294967296 WHERE product < 0;
UPDATE files SET product = product + 4294967296 WHERE product < 0;
UPDATE devices SET product = product + 4294967296 WHERE product < 0;
UPDATE device_steps SET product = product + 4294967296 WHERE product < 0;
ALTER TABLE files ADD COLUMN raw_name bytea, ADD COLUMN raw_path bytea;)",
    // 5: the witness of the upload folders' ledgers: each entry as ingest sent it and when the server
    // received it, and what ingest found a ledger to contradict in it. Both only grow: a trigger refuses
    // every change and removal, another sets the time received to the server's own. A collecting role
    // that may only insert into them adds months to the records through korvel_add_month, which runs
    // with its owner's rights for that.
    R"(CREATE TABLE ledger (
  ledger_id text NOT NULL,
  sequence bigint NOT NULL,
  kind text NOT NULL,
  utc_time text NOT NULL,
  pc_clock text NOT NULL,
  host text NOT NULL,
  product bigint NOT NULL,
  file text NOT NULL,
  size bigint NOT NULL,
  sha256 text NOT NULL,
  first_key text NOT NULL,
  last_key text NOT NULL,
  records bigint NOT NULL,
  previous text NOT NULL,
  hash text NOT NULL,
  received timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (ledger_id, sequence));
CREATE INDEX ledger_by_product ON ledger (product);
CREATE INDEX ledger_by_file ON ledger (file);
CREATE TABLE ledger_findings (
  ledger_id text NOT NULL,
  sequence bigint NOT NULL,
  kind text NOT NULL,
  product bigint NOT NULL,
  file text NOT NULL,
  local_hash text NOT NULL,
  host text NOT NULL,
  received timestamptz NOT NULL DEFAULT now(),
  UNIQUE (ledger_id, sequence, kind, local_hash));
CREATE INDEX ledger_findings_by_product ON ledger_findings (product);
CREATE OR REPLACE FUNCTION korvel_received_now() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  NEW.received := now();
  RETURN NEW;
END $$;
CREATE OR REPLACE FUNCTION korvel_append_only() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'korvel''s table % only grows: what the witness received is never changed or removed',
    TG_TABLE_NAME;
END $$;
CREATE TRIGGER ledger_received BEFORE INSERT ON ledger
  FOR EACH ROW EXECUTE FUNCTION korvel_received_now();
CREATE TRIGGER ledger_append_only BEFORE UPDATE OR DELETE ON ledger
  FOR EACH ROW EXECUTE FUNCTION korvel_append_only();
CREATE TRIGGER ledger_no_truncate BEFORE TRUNCATE ON ledger
  FOR EACH STATEMENT EXECUTE FUNCTION korvel_append_only();
CREATE TRIGGER ledger_findings_received BEFORE INSERT ON ledger_findings
  FOR EACH ROW EXECUTE FUNCTION korvel_received_now();
CREATE TRIGGER ledger_findings_append_only BEFORE UPDATE OR DELETE ON ledger_findings
  FOR EACH ROW EXECUTE FUNCTION korvel_append_only();
CREATE TRIGGER ledger_findings_no_truncate BEFORE TRUNCATE ON ledger_findings
  FOR EACH STATEMENT EXECUTE FUNCTION korvel_append_only();
ALTER FUNCTION korvel_add_month(timestamptz) SECURITY DEFINER SET search_path FROM CURRENT;)",
};
static_assert(std::size(kSchemaSteps) == kRecordSchemaVersion);

// A sentence of libpq or the server on one line, without any secret of the URL.
std::string OneLine(const char* message, const std::vector<std::string>& secrets) {
    std::string text;
    for (const char* p = message ? message : ""; *p; ++p) {
        if (*p == '\n' || *p == '\t') {
            if (!text.empty() && text.back() != ' ') text += text.back() == ';' ? " " : "; ";
        } else {
            text += *p;
        }
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == ';')) text.pop_back();
    return Shown(MaskSecrets(text, secrets));
}

// An array literal of texts, each quoted, for a parameter the server takes as text[].
std::string TextArray(const std::vector<std::string>& items) {
    std::string array = "{";
    for (const std::string& item : items) {
        if (array.size() > 1) array += ',';
        array += '"';
        for (char c : item) {
            if (c == '"' || c == '\\') array += '\\';
            array += c;
        }
        array += '"';
    }
    return array + '}';
}

// Bytes from the hexadecimal digits the server's encode(..., 'hex') writes.
std::string FromHex(const std::string& hex) {
    auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(digit(hex[i]) << 4 | digit(hex[i + 1]));
    return bytes;
}

class Result {
  public:
    explicit Result(PGresult* result) : result_(result) {}
    ~Result() { PQclear(result_); }
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;
    PGresult* get() const { return result_; }
    bool Ok() const {
        const ExecStatusType status = PQresultStatus(result_);
        return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK || status == PGRES_COPY_IN;
    }
    int Rows() const { return PQntuples(result_); }
    bool IsNull(int row, int column) const { return PQgetisnull(result_, row, column) != 0; }
    std::string Text(int row, int column) const { return PQgetvalue(result_, row, column); }
    int64_t Int(int row, int column) const { return std::stoll(PQgetvalue(result_, row, column)); }
    std::string State() const {
        const char* state = PQresultErrorField(result_, PG_DIAG_SQLSTATE);
        return state ? state : "";
    }

  private:
    PGresult* result_;
};

// Rows for COPY ... (FORMAT binary): the signature and two empty words, then per row its count of
// fields and each field as its length and its bytes, in network byte order; the server parses no text.
class BinaryRows {
  public:
    BinaryRows() { Clear(); }
    void Clear() {
        static constexpr char kSignature[] = "PGCOPY\n\377\r\n";  // with its closing zero: 11 bytes
        bytes_.assign(kSignature, sizeof kSignature);
        Word(0, 4);
        Word(0, 4);
        rows_ = 0;
    }
    void Row(int fields) {
        Word(static_cast<uint64_t>(fields), 2);
        ++rows_;
    }
    void Int8(int64_t value) {
        Word(8, 4);
        Word(static_cast<uint64_t>(value), 8);
    }
    void Int2(int16_t value) {
        Word(2, 4);
        Word(static_cast<uint16_t>(value), 2);
    }
    // timestamptz: microseconds since 2000-01-01 00:00 UTC.
    void Time(int64_t utc) { Int8((utc - 946684800) * 1000000); }
    void Text(std::string_view text) {
        Word(text.size(), 4);
        bytes_ += text;
    }
    size_t rows() const { return rows_; }
    // The rows with the end mark.
    const std::string& Finished() {
        Word(0xFFFF, 2);
        return bytes_;
    }

  private:
    void Word(uint64_t value, int length) {
        char word[8];
        for (int i = 0; i < length; ++i)
            word[i] = static_cast<char>((value >> (8 * (length - 1 - i))) & 0xFF);
        bytes_.append(word, static_cast<size_t>(length));
    }
    std::string bytes_;
    size_t rows_ = 0;
};

class PostgresStore final : public RecordStore {
  public:
    PostgresStore(PGconn* connection, std::string name, std::vector<std::string> secrets)
        : connection_(connection), name_(std::move(name)), secrets_(std::move(secrets)) {}
    ~PostgresStore() override { PQfinish(connection_); }
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

    std::string Name() const override { return name_; }
    int CurrentSchemaVersion() const override { return kRecordSchemaVersion; }

    Failure Prepare() override {
        // A commit waits for the server's disk as the server is set up to: with a batch of files per
        // transaction that costs little, and a file reported loaded stays loaded through a server crash.
        if (Failure f = Exec("SET client_min_messages = warning", "cannot prepare the database")) return f;
        // The files' bytes are compressed by lz4 where the server has it, several times quicker than its
        // own method; a server without it keeps its own.
        Exec("SET default_toast_compression = lz4", "");
        if (Failure f = Exec("BEGIN", "cannot write to the database")) return f;
        // Several first runs at once: one creates the schema, the others wait and find it made.
        Failure failure =
            Exec("SELECT pg_advisory_xact_lock(hashtext('korvel schema'))", "cannot lock the schema");
        const int version = failure ? 0 : SchemaVersion(failure);
        if (!failure) failure = SchemaProblem(*this, version, StoreUse::Load);
        for (int step = version; !failure && step < kRecordSchemaVersion; ++step) {
            failure = Exec(kSchemaSteps[step].c_str(), "cannot create the database's tables");
            if (!failure)
                failure = Exec(("UPDATE korvel_schema SET version = " + std::to_string(step + 1)).c_str(),
                               "cannot create the database's tables");
        }
        if (!failure) failure = Exec("COMMIT", "cannot write to the database");
        if (failure) {
            Exec("ROLLBACK", "");
            return failure;
        }
        return Exec(R"(CREATE TEMPORARY TABLE incoming (
  product bigint, utc bigint, line text COLLATE "C", offset_minutes smallint, value text)
  ON COMMIT DELETE ROWS)",
                    "cannot prepare the database");
    }

    int SchemaVersion(Failure& failure) override {
        Result exists(PQexec(connection_, "SELECT to_regclass('korvel_schema') IS NOT NULL"));
        if (!exists.Ok()) {
            failure = Error("cannot read the database", exists.get());
            return 0;
        }
        if (exists.Text(0, 0) != "t") return 0;
        Result version(PQexec(connection_, "SELECT version FROM korvel_schema"));
        if (!version.Ok() || version.Rows() != 1) {
            failure = Error("cannot read the database's schema version", version.get());
            return 0;
        }
        return static_cast<int>(version.Int(0, 0));
    }

    // The files loaded so far come over in one query at the first question: one round trip per file
    // would cost more than the whole skip. A file another run loads meanwhile is caught by its claim.
    bool HasFile(const StoredFile& file, Failure& failure) override {
        if (!known_) {
            Result result(PQexec(connection_,
                                 "SELECT f.name, f.size, f.hash FROM files f "
                                 "JOIN file_contents c ON c.file = f.id"));
            if (!result.Ok()) {
                failure = Error("cannot read the database", result.get());
                return false;
            }
            known_.emplace();
            for (int row = 0; row < result.Rows(); ++row)
                known_->insert(result.Text(row, 0) + '\0' + result.Text(row, 1) + '\0' + result.Text(row, 2));
        }
        return known_->count(file.name + '\0' + std::to_string(file.size) + '\0' + file.hash) > 0;
    }

    Failure AddFile(const StoredFile& file, int64_t& added, bool& loaded) override {
        std::vector<FileOutcome> outcomes;
        const Failure failure = AddFiles({&file}, outcomes);
        added = outcomes.empty() ? 0 : outcomes.front().added;
        loaded = !outcomes.empty() && outcomes.front().loaded;
        return failure;
    }

    // The files in one transaction: each is still wholly in or wholly out, and the batch costs one
    // commit and a few large statements rather than many small ones per file.
    Failure AddFiles(const std::vector<const StoredFile*>& files,
                     std::vector<FileOutcome>& outcomes) override {
        outcomes.clear();
        if (files.empty()) return {};
        const std::string what =
            failure_text::LoadingFiles(files.front()->path, files.back()->path, files.size());
        if (Failure f = AddMonths(files, what)) return f;
        // A deadlock, a serialization failure or a record that another load put in first: the batch goes
        // again.
        for (int attempt = 0;; ++attempt) {
            std::string state;
            std::vector<FileOutcome> done;
            Failure failure = Load(files, what, done, state);
            if (!failure) {
                Result commit(PQexec(connection_, "COMMIT"));
                if (commit.Ok()) {
                    pending_witness_ = {};
                    outcomes = std::move(done);
                    return {};
                }
                state = commit.State();
                failure = Error(what.c_str(), commit.get());
            }
            Exec("ROLLBACK", "");
            if ((state != "40P01" && state != "40001" && state != "23505") || attempt == 4) return failure;
        }
    }

    Failure CommitWitness() override {
        if (pending_witness_.empty()) return {};
        const std::string what = "cannot send the ledger's entries to the database";
        auto fail = [&](const Result& result) { return Error(what.c_str(), result.get()); };
        if (Failure f = Exec("BEGIN", what.c_str())) return f;
        Failure failure = WriteWitness(fail);
        if (!failure) failure = Exec("COMMIT", what.c_str());
        if (failure) {
            Exec("ROLLBACK", "");
            return failure;
        }
        pending_witness_ = {};
        return {};
    }

    Failure Witnessed(const std::string& ledger_id, std::vector<WitnessedEntry>& entries) override {
        const char* values[] = {ledger_id.c_str()};
        Result result(PQexecParams(connection_, R"(SELECT ledger_id, sequence, kind, utc_time, pc_clock, host,
  product, file, size, sha256, first_key, last_key, records, previous, hash,
  floor(extract(epoch FROM received))::bigint FROM ledger WHERE $1 = '' OR ledger_id = $1 ORDER BY ledger_id, sequence)",
                                   1, nullptr, values, nullptr, nullptr, 0));
        return ReadWitnessed(result, entries);
    }

    Failure WitnessedFiles(const std::string& ledger_id, const std::vector<std::string>& files,
                           std::vector<WitnessedEntry>& entries) override {
        const std::string names = TextArray(files);
        const char* values[] = {ledger_id.c_str(), names.c_str()};
        Result result(PQexecParams(connection_, R"(SELECT ledger_id, sequence, kind, utc_time, pc_clock, host,
  product, file, size, sha256, first_key, last_key, records, previous, hash,
  floor(extract(epoch FROM received))::bigint FROM ledger WHERE file = ANY ($2::text[]) AND ledger_id <> $1
  ORDER BY ledger_id, sequence)",
                                   2, nullptr, values, nullptr, nullptr, 0));
        return ReadWitnessed(result, entries);
    }

    Failure ReadWitnessed(const Result& result, std::vector<WitnessedEntry>& entries) {
        if (!result.Ok()) return Error("cannot read the database's ledger", result.get());
        for (int row = 0; row < result.Rows(); ++row) {
            WitnessedEntry witnessed;
            witnessed.ledger_id = result.Text(row, 0);
            LedgerEntry& e = witnessed.entry;
            e.sequence = static_cast<uint64_t>(result.Int(row, 1));
            e.kind = LedgerKindOf(result.Text(row, 2));
            e.utc_time = result.Text(row, 3);
            e.pc_clock = result.Text(row, 4);
            e.host = result.Text(row, 5);
            e.product = static_cast<uint64_t>(result.Int(row, 6));
            e.file = result.Text(row, 7);
            e.size = static_cast<uint64_t>(result.Int(row, 8));
            e.sha256 = result.Text(row, 9);
            e.first_key = result.Text(row, 10);
            e.last_key = result.Text(row, 11);
            e.records = static_cast<uint64_t>(result.Int(row, 12));
            e.previous = result.Text(row, 13);
            e.hash = result.Text(row, 14);
            witnessed.received_utc = result.Int(row, 15);
            entries.push_back(std::move(witnessed));
        }
        return {};
    }

    Failure Fleet(std::vector<FleetDevice>& devices) override {
        // From the devices' summaries, which every load keeps up to date: the gaps as the gaps view
        // finds them, without reading every record.
        const std::string sql = R"(
WITH usual AS (
  SELECT DISTINCT ON (product) product, step AS seconds FROM device_steps WHERE step > 0 AND times > 0
  ORDER BY product, times DESC, step),
g AS (
  SELECT s.product, sum(s.times) AS gaps,
         sum(s.times * greatest((s.step + coalesce(u.seconds, 121) / 2) / coalesce(u.seconds, 121) - 1, 1))
           AS missing
  FROM device_steps s LEFT JOIN usual u ON u.product = s.product
  WHERE 2 * s.step > 3 * coalesce(u.seconds, 121) AND s.times > 0 GROUP BY s.product),
recorders AS (SELECT product FROM devices UNION SELECT DISTINCT product FROM files WHERE product IS NOT NULL)
SELECT p.product, coalesce(r.records, 0), extract(epoch FROM r.first_taken)::bigint,
  extract(epoch FROM r.last_taken)::bigint,
  (SELECT offset_minutes FROM records x WHERE x.product = r.product AND x.taken = r.last_taken
   ORDER BY line DESC LIMIT 1),
  floor(extract(epoch FROM f.ingested))::bigint, f.host, coalesce(g.gaps, 0), coalesce(g.missing, 0),
  (SELECT coalesce(sum(damaged), 0) FROM files WHERE product = p.product), coalesce(u.seconds, 0),
  (SELECT count(*) FROM ledger WHERE product = p.product),
  EXISTS (SELECT 1 FROM ledger_findings WHERE product = p.product) OR EXISTS (
    SELECT 1 FROM ledger e LEFT JOIN ledger b ON b.ledger_id = e.ledger_id AND b.sequence = e.sequence - 1
    WHERE e.product = p.product
      AND e.previous <> coalesce(b.hash, CASE WHEN e.sequence = 1 THEN ')" +
                                std::string(kLedgerGenesis) +
                                R"(' END))
FROM recorders p
LEFT JOIN devices r ON r.product = p.product
LEFT JOIN LATERAL (SELECT ingested, host FROM files WHERE product = p.product
                   ORDER BY ingested DESC, id DESC LIMIT 1) f ON true
LEFT JOIN g ON g.product = p.product
LEFT JOIN usual u ON u.product = p.product
ORDER BY p.product)";
        Result result(PQexec(connection_, sql.c_str()));
        if (!result.Ok()) return Error("cannot read the database", result.get());
        auto number = [&](int row, int column) {
            return result.IsNull(row, column) ? 0 : result.Int(row, column);
        };
        for (int row = 0; row < result.Rows(); ++row) {
            FleetDevice device;
            device.product = result.Int(row, 0);
            device.records = result.Int(row, 1);
            device.first_utc = number(row, 2);
            device.last_utc = number(row, 3);
            device.last_offset = static_cast<int16_t>(number(row, 4));
            if (!result.IsNull(row, 5)) device.ingested_utc = result.Int(row, 5);
            device.ingested_host = result.Text(row, 6);
            device.gaps = result.Int(row, 7);
            device.missing = result.Int(row, 8);
            device.damaged = result.Int(row, 9);
            device.interval = result.Int(row, 10);
            device.ledger_entries = result.Int(row, 11);
            device.ledger_broken = result.Text(row, 12) == "t";
            devices.push_back(std::move(device));
        }
        return {};
    }

    Failure ListFiles(std::vector<StoredFileEntry>& files) override {
        Result result(PQexec(connection_,
                             "SELECT f.id, f.name, f.path, c.file IS NOT NULL, encode(f.raw_name, 'hex'), "
                             "encode(f.raw_path, 'hex') FROM files f "
                             "LEFT JOIN file_contents c ON c.file = f.id ORDER BY f.id"));
        if (!result.Ok()) return Error("cannot read the database", result.get());
        for (int row = 0; row < result.Rows(); ++row) {
            StoredFileEntry entry{result.Int(row, 0), result.Text(row, 1), result.Text(row, 2),
                                  FromHex(result.Text(row, 5)), result.Text(row, 3) == "t"};
            if (!result.IsNull(row, 4)) entry.name = FromHex(result.Text(row, 4));
            files.push_back(std::move(entry));
        }
        return {};
    }

    Failure FileBytes(int64_t id, std::string& bytes) override {
        const std::string key = std::to_string(id);
        const char* values[] = {key.c_str()};
        Result result(PQexecParams(connection_, "SELECT bytes FROM file_contents WHERE file = $1", 1, nullptr,
                                   values, nullptr, nullptr, 1));
        if (!result.Ok() || result.Rows() != 1)
            return Error("cannot read a file's lines from the database", result.get());
        bytes.assign(PQgetvalue(result.get(), 0, 0), static_cast<size_t>(PQgetlength(result.get(), 0, 0)));
        return {};
    }

  private:
    // Puts the file's bytes beside the row of its name, size and hash, which an older korvel-cli loaded
    // without them. Whether a row was added.
    Failure AddContents(const StoredFile& file, bool& added, std::string& state, const std::string& what) {
        const std::string size = std::to_string(file.size);
        const char* values[] = {file.bytes.data(), file.name.c_str(), size.c_str(), file.hash.c_str()};
        const int lengths[] = {static_cast<int>(file.bytes.size()), 0, 0, 0};
        const int formats[] = {1, 0, 0, 0};
        Result result(PQexecParams(connection_, R"(INSERT INTO file_contents (file, bytes)
  SELECT id, $1 FROM files WHERE name = $2 AND size = $3 AND hash = $4 ON CONFLICT DO NOTHING)",
                                   4, nullptr, values, lengths, formats, 0));
        if (!result.Ok()) {
            state = result.State();
            return Error(what.c_str(), result.get());
        }
        added = std::string_view(PQcmdTuples(result.get())) != "0";
        return {};
    }

    // The months' partitions that the files' records need, in one short transaction of their own.
    Failure AddMonths(const std::vector<const StoredFile*>& files, const std::string& what) {
        std::string months = "{";
        std::set<int64_t> added;
        int64_t from = 0, to = 0;  // the month of the record before, [from, to)
        for (const StoredFile* file : files)
            for (const StoredRecord& record : file->records) {
                if (record.utc >= from && record.utc < to) continue;
                from = MonthStart(record.utc);
                to = MonthStart(from + 32 * 86400);
                if (months_.count(from) || !added.insert(from).second) continue;
                months += (months.size() > 1 ? "," : "") + std::to_string(from);
            }
        if (added.empty()) return {};
        months += '}';
        const char* values[] = {months.c_str()};
        Result result(PQexecParams(
            connection_, "SELECT count(korvel_add_month(to_timestamp(m))) FROM unnest($1::bigint[]) m", 1,
            nullptr, values, nullptr, nullptr, 0));
        if (!result.Ok()) return Error(what.c_str(), result.get());
        months_.insert(added.begin(), added.end());
        return {};
    }

    // Loads the files in a transaction left open; outcomes receives each file's.
    Failure Load(const std::vector<const StoredFile*>& files, const std::string& what,
                 std::vector<FileOutcome>& outcomes, std::string& state) {
        auto fail = [&](const Result& result) {
            state = result.State();
            return Error(what.c_str(), result.get());
        };
        {
            Result begin(PQexec(connection_, "BEGIN"));
            if (!begin.Ok()) return fail(begin);
        }
        // Each device's loads take turns, its turn taken in product order so that two batches never wait
        // for each other: a record newer than all its device's records in the database and in the batch so
        // far cannot be there yet, so it goes straight in by COPY, without a test; only the others (the
        // overlap of downloads) go through the temporary table and ON CONFLICT DO NOTHING.
        std::map<int64_t, int64_t> newest;  // product → its newest record's UTC, or INT64_MIN for none
        for (const StoredFile* file : files)
            for (const StoredRecord& record : file->records) newest.emplace(record.product, INT64_MIN);
        for (auto& [device, utc] : newest) {
            const std::string key = std::to_string(device);
            const char* device_value[] = {key.c_str()};
            Result claimed(PQexecParams(connection_, "SELECT korvel_claim_device($1)", 1, nullptr,
                                        device_value, nullptr, nullptr, 0));
            if (!claimed.Ok() || claimed.Rows() != 1) return fail(claimed);
            if (!claimed.IsNull(0, 0)) utc = claimed.Int(0, 0);
        }
        const std::map<int64_t, int64_t> newest_before = newest;
        std::map<int64_t, DeviceChange> changes;
        // The records beyond the newest wait here, with their file's id, for one COPY: sent before an
        // overlap is tested against the records, and at the end.
        BinaryRows& fresh = fresh_;  // kept from batch to batch, and its memory with it
        fresh.Clear();
        std::string ids = "{", counts = "{";

        std::vector<std::optional<int64_t>> claimed;
        if (Failure f = ClaimFiles(files, claimed, what, fail)) return f;
        for (size_t at = 0; at < files.size(); ++at) {
            const StoredFile& file = *files[at];
            // Another run loaded the same file first, or an older korvel-cli did without its bytes: they
            // are added now, its records are there.
            if (!claimed[at]) {
                bool loaded = false;
                if (Failure f = AddContents(file, loaded, state, what)) return f;
                outcomes.push_back({0, loaded});
                continue;
            }
            const int64_t id = *claimed[at];

            std::vector<const StoredRecord*> overlap;
            int64_t added = 0;
            for (const StoredRecord& record : file.records) {
                changes[record.product].Span(record.utc);
                if (record.utc <= newest[record.product]) overlap.push_back(&record);
            }
            if (!overlap.empty()) {
                if (Failure f = AddOverlap(overlap, id, fresh, changes, added, fail)) return f;
            }
            for (const StoredRecord& record : file.records) {
                if (record.utc <= newest[record.product]) continue;
                fresh.Row(6);
                fresh.Int8(record.product);
                fresh.Time(record.utc);
                fresh.Text(record.line);
                fresh.Int2(record.offset_minutes);
                fresh.Text(record.value);
                fresh.Int8(id);
                DeviceChange& change = changes[record.product];
                ++change.records;
                change.fresh.push_back(record.utc);
                ++added;
            }
            for (const StoredRecord& record : file.records)
                newest[record.product] = std::max(newest[record.product], record.utc);
            outcomes.push_back({added, true});
            ids += (ids.size() > 1 ? "," : "") + std::to_string(id);
            counts += (counts.size() > 1 ? "," : "") + std::to_string(added);
        }
        if (Failure f = Send("COPY records (product, taken, line, offset_minutes, value, file) FROM STDIN "
                             "(FORMAT binary)",
                             fresh, fail))
            return f;
        // The steps of the records beyond the newest are those between their distinct times.
        for (auto& [device, change] : changes) {
            std::sort(change.fresh.begin(), change.fresh.end());
            int64_t previous = newest_before.at(device);
            for (int64_t utc : change.fresh) {
                if (previous != INT64_MIN && utc != previous) ++change.steps[utc - previous];
                previous = utc;
            }
            if (Failure f = Summarize(device, change, fail)) return f;
        }
        if (ids.size() > 1) {
            ids += '}';
            counts += '}';
            const char* added_values[] = {ids.c_str(), counts.c_str()};
            Result counted(PQexecParams(connection_, R"(UPDATE files SET added = u.added
  FROM unnest($1::bigint[], $2::bigint[]) AS u (id, added) WHERE files.id = u.id)",
                                        2, nullptr, added_values, nullptr, nullptr, 0));
            if (!counted.Ok()) return fail(counted);
        }
        return WriteWitness(fail);
    }

    // The entries and findings waiting for the witness, in the transaction open. An entry another run
    // witnessed meanwhile stays as it is; where its hash differs, that is a finding.
    template <typename Fail>
    Failure WriteWitness(const Fail& fail) {
        const WitnessBatch& batch = pending_witness_;
        if (batch.empty()) return {};
        std::vector<WitnessFinding> findings = batch.findings;
        if (!batch.entries.empty()) {
            std::vector<std::string> columns[14];
            for (const LedgerEntry& e : batch.entries) {
                const std::string fields[] = {std::to_string(e.sequence),
                                              std::string(LedgerKindWord(e.kind)),
                                              e.utc_time,
                                              e.pc_clock,
                                              e.host,
                                              std::to_string(e.product),
                                              e.file,
                                              std::to_string(e.size),
                                              e.sha256,
                                              e.first_key,
                                              e.last_key,
                                              std::to_string(e.records),
                                              e.previous,
                                              e.hash};
                for (size_t i = 0; i < std::size(fields); ++i) columns[i].push_back(fields[i]);
            }
            std::vector<std::string> arrays;
            for (const auto& column : columns) arrays.push_back(TextArray(column));
            std::vector<const char*> values = {batch.ledger_id.c_str()};
            for (const std::string& array : arrays) values.push_back(array.c_str());
            Result inserted(PQexecParams(connection_,
                                         R"(INSERT INTO ledger (ledger_id, sequence, kind, utc_time,
  pc_clock, host, product, file, size, sha256, first_key, last_key, records, previous, hash)
SELECT $1, u.* FROM unnest($2::bigint[], $3::text[], $4::text[], $5::text[], $6::text[], $7::bigint[],
  $8::text[], $9::bigint[], $10::text[], $11::text[], $12::text[], $13::bigint[], $14::text[], $15::text[]) AS u
ORDER BY 2 ON CONFLICT DO NOTHING)",
                                         15, nullptr, values.data(), nullptr, nullptr, 0));
            if (!inserted.Ok()) return fail(inserted);
            const char* held_values[] = {batch.ledger_id.c_str(), arrays[0].c_str()};
            Result held(PQexecParams(connection_, R"(SELECT sequence, hash, product, file,
  floor(extract(epoch FROM received))::bigint FROM ledger WHERE ledger_id = $1 AND sequence = ANY ($2::bigint[]))",
                                     2, nullptr, held_values, nullptr, nullptr, 0));
            if (!held.Ok()) return fail(held);
            std::map<uint64_t, const LedgerEntry*> sent;
            for (const LedgerEntry& e : batch.entries) sent.emplace(e.sequence, &e);
            for (int row = 0; row < held.Rows(); ++row) {
                const auto it = sent.find(static_cast<uint64_t>(held.Int(row, 0)));
                if (it != sent.end() && held.Text(row, 1) != it->second->hash)
                    findings.push_back({batch.ledger_id, it->first, WitnessFinding::Kind::Rewritten,
                                        held.Int(row, 2), held.Text(row, 3), it->second->hash,
                                        held.Int(row, 4)});
            }
        }
        if (findings.empty()) return {};
        std::vector<std::string> columns[6];
        for (const WitnessFinding& f : findings) {
            columns[0].push_back(f.ledger_id);
            columns[1].push_back(std::to_string(f.sequence));
            columns[2].push_back(std::string(WitnessFindingWord(f.kind)));
            columns[3].push_back(std::to_string(f.product));
            columns[4].push_back(f.file);
            columns[5].push_back(f.local_hash);
        }
        std::vector<std::string> arrays;
        for (const auto& column : columns) arrays.push_back(TextArray(column));
        const char* values[] = {arrays[0].c_str(), arrays[1].c_str(), arrays[2].c_str(), arrays[3].c_str(),
                                arrays[4].c_str(), arrays[5].c_str(), batch.host.c_str()};
        Result found(PQexecParams(connection_, R"(INSERT INTO ledger_findings
  (ledger_id, sequence, kind, product, file, local_hash, host)
SELECT u.*, $7 FROM unnest($1::text[], $2::bigint[], $3::text[], $4::bigint[], $5::text[], $6::text[]) AS u
ON CONFLICT DO NOTHING)",
                                  7, nullptr, values, nullptr, nullptr, 0));
        if (!found.Ok()) return fail(found);
        return {};
    }

    // Each file's row and its bytes beside it; ids receives the row's id, or nothing where the file was
    // there. All in one pipeline: one round trip for the batch rather than one per file.
    template <typename Fail>
    Failure ClaimFiles(const std::vector<const StoredFile*>& files, std::vector<std::optional<int64_t>>& ids,
                       const std::string& what, const Fail& fail) {
        ids.assign(files.size(), std::nullopt);
        if (PQenterPipelineMode(connection_) != 1) return Error(what.c_str(), nullptr);
        size_t sent = 0;
        for (const StoredFile* stored : files) {
            const StoredFile& file = *stored;
            const std::string size = std::to_string(file.size);
            const std::string product = file.product ? std::to_string(*file.product) : "";
            const std::string records = std::to_string(file.distinct);
            const std::string damaged = std::to_string(file.damaged);
            const char* values[] = {file.name.c_str(),
                                    size.c_str(),
                                    file.hash.c_str(),
                                    file.path.c_str(),
                                    file.product ? product.c_str() : nullptr,
                                    file.host.c_str(),
                                    records.c_str(),
                                    damaged.c_str(),
                                    file.bytes.data(),
                                    file.raw_name.empty() ? nullptr : file.raw_name.data(),
                                    file.raw_path.empty() ? nullptr : file.raw_path.data()};
            const int lengths[] = {0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   static_cast<int>(file.bytes.size()),
                                   static_cast<int>(file.raw_name.size()),
                                   static_cast<int>(file.raw_path.size())};
            const int formats[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1};
            if (PQsendQueryParams(connection_, R"(WITH claim AS (
  INSERT INTO files (name, size, hash, path, product, host, records, added, damaged, raw_name, raw_path)
  VALUES ($1, $2, $3, $4, $5, $6, $7, 0, $8, $10, $11) ON CONFLICT DO NOTHING RETURNING id),
contents AS (INSERT INTO file_contents (file, bytes) SELECT id, $9 FROM claim)
SELECT id FROM claim)",
                                  11, nullptr, values, lengths, formats, 0) != 1)
                break;
            ++sent;
        }
        if (sent < files.size() || PQpipelineSync(connection_) != 1) {
            // The connection failed: the transaction goes with it.
            Failure failure = Error(what.c_str(), nullptr);
            PQexitPipelineMode(connection_);
            return failure;
        }
        Failure failure;
        // Per query its result and a null; after a failure the rest are aborted; then the sync's.
        for (size_t at = 0; at < sent; ++at) {
            PGresult* next = PQgetResult(connection_);
            if (!next) {
                if (!failure) failure = Error(what.c_str(), nullptr);
                break;
            }
            const Result result(next);
            while (PGresult* more = PQgetResult(connection_)) PQclear(more);
            if (PQresultStatus(result.get()) == PGRES_PIPELINE_ABORTED) continue;
            if (!result.Ok()) {
                if (!failure) failure = fail(result);
                continue;
            }
            if (result.Rows() == 1) ids[at] = result.Int(0, 0);
        }
        while (PGresult* next = PQgetResult(connection_)) {
            const bool sync = PQresultStatus(next) == PGRES_PIPELINE_SYNC;
            PQclear(next);
            if (sync) break;
        }
        if (PQexitPipelineMode(connection_) != 1 && !failure) failure = Error(what.c_str(), nullptr);
        return failure;
    }

    // What a load changes in a device's summary.
    struct DeviceChange {
        int64_t records = 0;
        int64_t first = INT64_MAX, last = INT64_MIN;  // of the files' records
        std::map<int64_t, int64_t> steps;             // seconds → change of how often
        std::vector<int64_t> fresh;                   // the times of the records beyond the newest
        void Span(int64_t utc) {
            first = std::min(first, utc);
            last = std::max(last, utc);
        }
    };

    // Records at or before their device's newest: they can repeat records there or fill a gap, so the
    // records waiting in fresh go first, and the steps of the times they land among are counted before
    // and after.
    template <typename Fail>
    Failure AddOverlap(const std::vector<const StoredRecord*>& overlap, int64_t id, BinaryRows& fresh,
                       std::map<int64_t, DeviceChange>& changes, int64_t& added, const Fail& fail) {
        if (Failure f = Send("COPY records (product, taken, line, offset_minutes, value, file) FROM STDIN "
                             "(FORMAT binary)",
                             fresh, fail))
            return f;
        std::map<int64_t, std::pair<int64_t, int64_t>> landing;  // product → the overlap's first, last UTC
        for (const StoredRecord* record : overlap) {
            auto [it, added_now] = landing.try_emplace(record->product, record->utc, record->utc);
            it->second.first = std::min(it->second.first, record->utc);
            it->second.second = std::max(it->second.second, record->utc);
        }
        std::map<int64_t, std::map<int64_t, int64_t>> before;
        for (const auto& [device, span] : landing)
            if (Failure f = Steps(device, span, before[device], fail)) return f;
        BinaryRows rows;
        for (const StoredRecord* record : overlap) {
            rows.Row(5);
            rows.Int8(record->product);
            rows.Int8(record->utc);
            rows.Text(record->line);
            rows.Int2(record->offset_minutes);
            rows.Text(record->value);
        }
        if (Failure f = Send("COPY incoming (product, utc, line, offset_minutes, value) FROM STDIN "
                             "(FORMAT binary)",
                             rows, fail))
            return f;
        const std::string key = std::to_string(id);
        const char* id_value[] = {key.c_str()};
        // In key order, so that two loads of overlapping records cannot deadlock; the table is emptied for
        // the next file of the batch. (A NOT EXISTS test beside a plain insert lets the planner hash the
        // whole records table for each file once it has grown: each file then costs as much as all before
        // it.)
        const char* insert = R"(WITH moved AS (DELETE FROM incoming RETURNING *)
INSERT INTO records (product, taken, line, offset_minutes, value, file)
  SELECT product, to_timestamp(utc), line, offset_minutes, value, $1 FROM moved ORDER BY product, utc, line
  ON CONFLICT DO NOTHING RETURNING product)";
        Result moved(PQexecParams(connection_, insert, 1, nullptr, id_value, nullptr, nullptr, 0));
        if (!moved.Ok()) return fail(moved);
        added += moved.Rows();
        std::map<int64_t, int64_t> moved_per_device;
        for (int row = 0; row < moved.Rows(); ++row) ++moved_per_device[moved.Int(row, 0)];
        for (const auto& [device, span] : landing) {
            DeviceChange& change = changes[device];
            change.records += moved_per_device[device];
            if (moved_per_device[device] == 0) continue;
            std::map<int64_t, int64_t> after;
            if (Failure f = Steps(device, span, after, fail)) return f;
            for (const auto& [step, times] : before[device]) change.steps[step] -= times;
            for (const auto& [step, times] : after) change.steps[step] += times;
        }
        return {};
    }

    // How often each step occurs between the device's distinct record times from the one before first
    // to the one after last.
    template <typename Fail>
    Failure Steps(int64_t device, std::pair<int64_t, int64_t> span, std::map<int64_t, int64_t>& steps,
                  const Fail& fail) {
        const std::string key = std::to_string(device), lo = std::to_string(span.first),
                          hi = std::to_string(span.second);
        const char* values[] = {key.c_str(), lo.c_str(), hi.c_str()};
        Result result(PQexecParams(connection_, "SELECT step, times FROM korvel_steps($1, $2, $3)", 3,
                                   nullptr, values, nullptr, nullptr, 0));
        if (!result.Ok()) return fail(result);
        for (int row = 0; row < result.Rows(); ++row) steps[result.Int(row, 0)] += result.Int(row, 1);
        return {};
    }

    template <typename Fail>
    Failure Summarize(int64_t device, const DeviceChange& change, const Fail& fail) {
        std::string steps = "{", times = "{";
        for (const auto& [step, count] : change.steps) {
            if (count == 0) continue;
            if (steps.size() > 1) {
                steps += ',';
                times += ',';
            }
            steps += std::to_string(step);
            times += std::to_string(count);
        }
        steps += '}';
        times += '}';
        const std::string key = std::to_string(device), records = std::to_string(change.records),
                          first = std::to_string(change.first), last = std::to_string(change.last);
        const char* values[] = {key.c_str(),  records.c_str(), first.c_str(),
                                last.c_str(), steps.c_str(),   times.c_str()};
        Result result(PQexecParams(connection_, R"(WITH device AS (
  INSERT INTO devices VALUES ($1, $2, to_timestamp($3), to_timestamp($4))
  ON CONFLICT (product) DO UPDATE SET records = devices.records + excluded.records,
    first_taken = least(devices.first_taken, excluded.first_taken),
    last_taken = greatest(devices.last_taken, excluded.last_taken))
INSERT INTO device_steps SELECT $1, step, times FROM unnest($5::bigint[], $6::bigint[]) AS u (step, times)
ON CONFLICT (product, step) DO UPDATE SET times = device_steps.times + excluded.times)",
                                   6, nullptr, values, nullptr, nullptr, 0));
        if (!result.Ok()) return fail(result);
        return {};
    }

    // Sends the rows by COPY, and empties them.
    template <typename Fail>
    Failure Send(const char* sql, BinaryRows& rows, const Fail& fail) {
        if (rows.rows() == 0) return {};
        {
            Result copy(PQexec(connection_, sql));
            if (PQresultStatus(copy.get()) != PGRES_COPY_IN) return fail(copy);
        }
        const std::string& bytes = rows.Finished();
        bool sent = true;
        constexpr size_t kChunk = 1 << 20;
        for (size_t at = 0; sent && at < bytes.size(); at += kChunk)
            sent = PQputCopyData(connection_, bytes.data() + at,
                                 static_cast<int>(std::min(kChunk, bytes.size() - at))) == 1;
        PQputCopyEnd(connection_, sent ? nullptr : "the rows could not be sent");
        rows.Clear();
        Result copied(PQgetResult(connection_));
        while (PGresult* more = PQgetResult(connection_)) PQclear(more);
        if (!copied.Ok()) return fail(copied);
        return {};
    }

    Failure Exec(const char* sql, const char* what) {
        Result result(PQexec(connection_, sql));
        if (result.Ok()) return {};
        return Error(what, result.get());
    }

    Failure Error(const char* what, PGresult* result) const {
        const char* message = result ? PQresultErrorMessage(result) : nullptr;
        if (!message || !*message) message = PQerrorMessage(connection_);
        std::string advice = "check the server and run ingest again; the files loaded before are kept";
        if (PQstatus(connection_) != CONNECTION_OK)
            advice = "the connection to the server was lost; run ingest again when it is back";
        else if (const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
                 state && std::string_view(state).substr(0, 2) == "42")
            advice =
                "this database user may lack the right to create or write korvel's tables; ask the "
                "database's owner to grant it";
        return {FailureKind::Other,
                failure_text::DatabaseFailed(what, name_, OneLine(message, secrets_), advice), 0};
    }

    PGconn* connection_;
    std::string name_;
    std::vector<std::string> secrets_;  // of the URL, for no message to show
    BinaryRows fresh_;
    std::set<int64_t> months_;                              // partitions known to exist
    std::optional<std::unordered_set<std::string>> known_;  // name, size and hash of the files loaded
};

}  // namespace

std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo, Failure& failure,
                                               bool read_only) {
    if (!LoadPostgresLibrary(failure)) return nullptr;
    const std::string shown = UrlWithoutPassword(conninfo);
    const std::vector<std::string> secrets = UrlSecrets(conninfo);
    char* parse_error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &parse_error);
    if (!options) {
        failure = {FailureKind::Settings,
                   failure_text::DatabaseUrlUnparsed(shown, OneLine(parse_error, secrets)), 0};
        PQfreemem(parse_error);
        return nullptr;
    }
    PQconninfoFree(options);
    PGconn* connection = PQconnectdb(conninfo.c_str());
    if (!connection || PQstatus(connection) != CONNECTION_OK) {
        const std::string message =
            connection ? OneLine(PQerrorMessage(connection), secrets) : "out of memory";
        PQfinish(connection);
        std::string advice = "check the URL, that the server runs and that it accepts this user";
        if (message.find("password") != std::string::npos)
            advice = "check the user name and the password (in the URL, PGPASSWORD or ~/.pgpass)";
        failure = {FailureKind::Absent,
                   failure_text::DatabaseFailed("cannot connect to the database", shown, message, advice), 0};
        return nullptr;
    }
    PQsetClientEncoding(connection, "UTF8");
    if (read_only) {
        // The server itself refuses any write of this session.
        PGresult* set = PQexec(connection, "SET default_transaction_read_only = on");
        const bool set_ok = PQresultStatus(set) == PGRES_COMMAND_OK;
        PQclear(set);
        if (!set_ok) {
            failure = {FailureKind::Other,
                       failure_text::DatabaseFailed("cannot read the database", shown,
                                                    OneLine(PQerrorMessage(connection), secrets),
                                                    "check the server and try again"),
                       0};
            PQfinish(connection);
            return nullptr;
        }
    }
    return std::make_unique<PostgresStore>(connection, shown, secrets);
}

}  // namespace korvel
