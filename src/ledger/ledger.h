// SPDX-License-Identifier: MIT
// The ledger of downloads: one line per record file saved into an upload folder, each carrying the
// SHA-256 of the file's bytes and of the entry before it, so that a changed, removed or added file, and a
// changed or shortened ledger, show. It is the file korvel.ledger at the top of the upload folder, which
// no scan, walk or archive takes for a record file.
//
// The file: a first line "korvel ledger 1\t<ledger id>" (32 lower-case hex digits, random, made when the
// ledger is made), then one entry per line, its fields in the order of LedgerEntry below, separated by
// one TAB, ending in LF. Text fields are written as Shown() writes them, with TAB, LF and "\" escaped,
// so a field never holds a separator. The last field, hash, is the SHA-256 (lower-case hex) of the
// line's bytes before the TAB that precedes it.
//
// Appends hold the system's lock on the ledger (flock, LockFileEx) from reading its last entry to the
// flush of the new one. A last line without its LF is an append a crash cut short: reading stops there
// (Ledger::unreadable_line), and the next append cuts it off before it writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "text/failure.h"

namespace korvel {

inline constexpr char kLedgerFileName[] = "korvel.ledger";
// The previous hash of a ledger's first entry.
inline constexpr char kLedgerGenesis[] = "0000000000000000000000000000000000000000000000000000000000000000";

enum class LedgerEntryKind { Downloaded, Adopted };

struct LedgerEntry {
    uint64_t sequence = 0;                               // 1, 2, ... within the ledger
    LedgerEntryKind kind = LedgerEntryKind::Downloaded;  // written "downloaded" / "adopted"
    std::string utc_time;                                // when the entry was made, "2026-12-09T18:28:12Z"
    std::string pc_clock;                                // the PC's clock then, "2026-12-09 20:28:12+02:00"
    std::string host;                                    // HostName()
    uint64_t product = 0;                                // the recorder's product number
    std::string file;       // the record file, relative to the upload folder, "/" between parts
    uint64_t size = 0;      // bytes
    std::string sha256;     // of the file's bytes, 64 lower-case hex digits
    std::string first_key;  // the timestamp of the file's oldest record, "2022-07-30 10:15:42+08:00"
    std::string last_key;   // and of its newest
    uint64_t records = 0;   // record lines in the file
    std::string previous;   // the hash of the entry before, kLedgerGenesis for the first
    std::string hash;       // this entry's own hash (see above)
};

struct Ledger {
    std::string id;                    // from the first line
    std::vector<LedgerEntry> entries;  // in file order
    // Where the file stops being a ledger: the first line that cannot be read as an entry (1-based line
    // number, 0 when every line reads), and why.
    size_t unreadable_line = 0;
    std::string unreadable_reason;
};

// A text field as the ledger writes it: "\\" as \x5c, then as Shown() writes it (TAB, LF and every other
// control character or byte that is no UTF-8 as \xNN), so that it holds no separator and reads back as
// written. The fields of a LedgerEntry hold this form.
std::string LedgerField(std::string_view raw);
// "downloaded" / "adopted"
std::string_view LedgerKindWord(LedgerEntryKind kind);
// The ledger file of an upload folder.
std::string LedgerPath(const std::string& upload_folder);
// The path of a file named relative to the upload folder ("/" between parts), as the system takes it.
std::string RecordFilePath(const std::string& upload_folder, const std::string& file);

// One ledger line (without its LF) as an entry; false with why filled when it is not one: the fields'
// count, a number, a word or a hash that is not in the ledger's form.
bool ParseLedgerLine(std::string_view line, LedgerEntry& entry, std::string& why);

// What an entry records of a record file, read in one pass over its bytes: its size and SHA-256, the
// timestamps of its first and last valid record line and the count of those lines (lines must carry
// product's number).
struct RecordFileFacts {
    uint64_t size = 0;
    std::string sha256;
    std::string first_key, last_key;
    uint64_t records = 0;
};
Failure ReadRecordFileFacts(const std::string& path, uint64_t product, RecordFileFacts& facts);

// The ledger's text of an entry (without hash and LF) and the hash of that text.
std::string LedgerEntryText(const LedgerEntry& entry);
std::string LedgerEntryHash(const LedgerEntry& entry);

// Reads the ledger of the upload folder (UTF-8 path). A folder without a ledger gives an empty Ledger
// and no failure; a ledger that cannot be read gives a failure naming it.
Failure ReadLedger(const std::string& upload_folder, Ledger& ledger);

// Records a record file just saved into upload_folder (file relative to it): hashes its bytes, reads its
// first and last record, and appends the entry under a lock, so that downloads finishing at once, in
// one process or several, each get their own sequence and chain link. The entry is flushed to disk
// before this returns. A failure names the ledger and says what to do; the record file is never touched.
Failure AppendLedgerEntry(const std::string& upload_folder, const std::string& file, uint64_t product,
                          LedgerEntryKind kind = LedgerEntryKind::Downloaded);
// The same with the facts already read and the times from clock.
Failure AppendLedgerEntry(const std::string& upload_folder, const std::string& file, uint64_t product,
                          LedgerEntryKind kind, const RecordFileFacts& facts, const Clock& clock);

// Several entries at once, in this order, under one lock and with one flush (the files of a folder
// adopted together): all are appended or none.
struct LedgerAppend {
    std::string file;  // relative to the upload folder, "/" between parts, as the bytes are
    uint64_t product = 0;
    LedgerEntryKind kind = LedgerEntryKind::Downloaded;
    RecordFileFacts facts;
};
Failure AppendLedgerEntries(const std::string& upload_folder, const std::vector<LedgerAppend>& appends,
                            const Clock& clock);

// The sentence of a download whose record file was saved (path) but could not be recorded in the
// ledger (why): what it means and what to do.
std::string SavedButNotRecorded(const std::string& path, const Failure& why);

}  // namespace korvel
