// SPDX-License-Identifier: MIT
// The records in a database: an embedded SQLite file on one machine, or a PostgreSQL server that many
// collecting computers feed at once. A record is one row per product and record line, so loading the
// same lines twice adds nothing; each record row names the file (and through it the computer) that
// brought it first. A record file is loaded within one transaction (several files may share one): a
// killed run leaves it wholly in or wholly out. The files' lines are read by the archive engine
// (records/archive.h), never parsed here.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive.h"
#include "platform/host_name.h"
#include "text/failure.h"

namespace korvel {

// The schema this build writes; an older one is upgraded in place, a newer one is refused. A SQLite file
// has one step more: the per-device summaries that PostgreSQL has kept since its third.
inline constexpr int kRecordSchemaVersion = 4;
inline constexpr int kSqliteSchemaVersion = 5;

// One record line as a database row.
struct StoredRecord {
    int64_t product;         // 0 to 4,294,967,295, as the file's name carries it
    int64_t utc;             // seconds since 1970-01-01 00:00 UTC
    int16_t offset_minutes;  // east of UTC, as the line says
    std::string value;       // as the line writes it
    std::string line;        // the whole line, checksum included, without its LF
};

// One record file as one unit of work.
struct StoredFile {
    std::string name;  // the file's own name: with size and hash, what makes it the same file
    int64_t size = 0;
    std::string hash;                // ContentHash of its bytes
    std::string path;                // below the folder it was read from, shown (see Shown)
    std::string raw_name, raw_path;  // name and path as the file system has them, when they are not UTF-8
    std::optional<int64_t> product;  // from the name
    int64_t distinct = 0;            // the file's own distinct records, whatever else the run loads
    std::string host;                // the computer that loaded it
    int64_t damaged = 0;             // lines not loaded
    std::vector<StoredRecord> records;
    std::string bytes;  // the file as read: its lines in order, damaged ones too, for archive --db
};

// A loaded file as the archive engine reads it again.
struct StoredFileEntry {
    int64_t id = 0;
    std::string name, path;  // the name as the file system had it; the path as shown
    std::string raw_path;    // the path's own bytes when they are not UTF-8, else empty
    bool has_bytes = false;  // false for a file an older korvel-cli loaded without them
};

// What loading one file did.
struct FileOutcome {
    int64_t added = 0;    // records new in the database
    bool loaded = false;  // false for a file that another run loaded meanwhile
};

// One recorder as the database knows it.
struct FleetDevice {
    int64_t product = 0;
    int64_t records = 0;                  // 0 for a recorder whose files hold no valid line
    int64_t first_utc = 0, last_utc = 0;  // the oldest and the newest record, when it has records
    int64_t interval = 0;                 // the usual seconds between two records; 0 while no two show one
    int16_t last_offset = 0;              // the newest record's offset
    std::optional<int64_t> ingested_utc;  // the newest load of one of its files
    std::string ingested_host;            // from which computer
    int64_t gaps = 0, missing = 0;        // as the gaps view lists them
    int64_t damaged = 0;                  // damaged lines in its files
};

class RecordStore {
  public:
    virtual ~RecordStore() = default;
    // Creates the schema, or upgrades an older one in place.
    virtual Failure Prepare() = 0;
    // The version the database holds (0: none yet), and the one this build writes.
    virtual int SchemaVersion(Failure& failure) = 0;
    virtual int CurrentSchemaVersion() const = 0;
    // Whether a file of this name, size and hash is already loaded.
    virtual bool HasFile(const StoredFile& file, Failure& failure) = 0;
    // Loads the file and its records in one transaction; added receives the records that were new. A
    // file that another run loaded meanwhile adds nothing (and *loaded is false).
    virtual Failure AddFile(const StoredFile& file, int64_t& added, bool& loaded) = 0;
    // Loads the files in their order, each wholly or not at all; outcomes receives one per file loaded
    // before a failure (a store that loads them in one transaction gives none then). By default one
    // AddFile each.
    virtual Failure AddFiles(const std::vector<const StoredFile*>& files, std::vector<FileOutcome>& outcomes);
    virtual Failure Fleet(std::vector<FleetDevice>& devices) = 0;
    // The files loaded so far, in the order they were loaded, and one file's bytes.
    virtual Failure ListFiles(std::vector<StoredFileEntry>& files) = 0;
    virtual Failure FileBytes(int64_t id, std::string& bytes) = 0;
    // A description for messages: the file, or the server without its password.
    virtual std::string Name() const = 0;
};

// Opens the database that url names: "postgresql://..." or "postgres://..." (libpq's URI), "sqlite:PATH",
// "sqlite://PATH" or a plain path for a SQLite file. On failure returns nothing and fills failure with
// a sentence that says what went wrong and what to do.
// Read: the records are only read (archive, export, report, fleet), so a SQLite file that is not there
// is a failure rather than a new empty database, and the store cannot write: SQLite opens the file
// read-only, PostgreSQL's session is read-only. Such a store is checked with ReadableSchema, not
// prepared.
enum class StoreUse { Load, Read };
std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, Failure& failure,
                                             StoreUse use = StoreUse::Load);

// Whether this build takes the schema version the store holds: a newer one never; to read, neither none
// nor an older one (that is ingest's to upgrade, and the failure says so), while a load upgrades it.
Failure SchemaProblem(const RecordStore& store, int version, StoreUse use);
// The same for the version the store holds now, to read it.
Failure ReadableSchema(RecordStore& store);

// A database URL as messages show it: a password after the user name or in a parameter (password=,
// sslpassword=) becomes "***".
std::string UrlWithoutPassword(const std::string& url);
// What no message may show of the URL, longest first: each secret as written and percent-decoded, and the
// pieces of it between the characters at which a URL is split, for a sentence that quotes only a piece;
// and the text with each of them replaced by "***".
std::vector<std::string> UrlSecrets(const std::string& url);
std::string MaskSecrets(std::string text, const std::vector<std::string>& secrets);

// The SQLite file beside the upload folder (~/hollin.data/korvel.sqlite).
std::string DefaultDatabasePath();

// A 128-bit hash of the bytes as 32 hexadecimal digits: quick enough to tell a changed file at
// disk speed; not meant to stand against someone forging files.
std::string ContentHash(std::string_view bytes);

struct IngestReport {
    size_t files = 0;                   // record files in the folder
    size_t skipped = 0;                 // already loaded unchanged
    size_t loaded = 0;                  // loaded by this run
    int64_t records = 0;                // distinct records in the files read
    int64_t added = 0;                  // new in the database
    int64_t damaged = 0;                // lines not loaded
    std::vector<std::string> problems;  // files that could not be read, with the reason
    Failure failure;                    // the database failed; files before it stay loaded
};

// The records of every file loaded into store, read as ReadArchive reads a folder: the same answers as
// from the folder the files were loaded from. Files an older korvel-cli loaded without their bytes are
// named in problems. On a database failure fills failure.
Archive ReadStoredArchive(RecordStore& store, Failure& failure);

// Loads every record file below folder that the store does not hold yet, several files at a time; each
// file is wholly in or wholly out.
IngestReport IngestFolder(RecordStore& store, const std::string& folder, const std::string& host);

}  // namespace korvel
