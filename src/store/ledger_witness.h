// SPDX-License-Identifier: MIT
// The database as the witness of the upload folders' ledgers. ingest sends each ledger's entries that
// the database has not received yet (by ledger id and sequence); an entry once received is never
// changed there, so a ledger rewritten on the PC afterwards, however consistently, no longer agrees with
// it. verify --ledger --db compares a folder and its ledger with what was received.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/ledger_check.h"
#include "ledger/ledger.h"
#include "store/record_store.h"

namespace korvel {

std::string_view WitnessFindingWord(WitnessFinding::Kind kind);  // "rewritten", "truncated", "replaced"
LedgerEntryKind LedgerKindOf(std::string_view word);             // as LedgerKindWord writes it

// What the witness lacks of local (entries whose sequence it has not received) and what local
// contradicts of it (an entry of the same sequence with another hash; an entry received that local no
// longer holds; a new entry for a file that another ledger recorded with other bytes). witnessed: the
// entries received of local's id; others: those of other ledgers that name the new entries' files.
WitnessBatch PlanWitness(const Ledger& local, const std::vector<WitnessedEntry>& witnessed,
                         const std::vector<WitnessedEntry>& others, const std::string& host);

// Queues for the store what PlanWitness finds of a folder's ledger; ingest's transactions then carry it
// (RecordStore::QueueWitness, CommitWitness). A folder without a ledger (no id) queues nothing. A
// database that cannot be read fills failure.
WitnessBatch QueueLedgerWitness(RecordStore& store, const Ledger& ledger, const std::string& host,
                                Failure& failure);

// What the witness says of a folder.
struct WitnessProblem {
    enum class Kind {
        Rewritten,    // the ledger's entry is not the one received
        Truncated,    // an entry received is not in the ledger
        OtherLedger,  // a ledger received for this folder's files is not the folder's ledger
        Deleted,      // a file received is not in the folder
        Changed,      // a file received holds other bytes now
    };
    Kind kind = Kind::Rewritten;
    std::string ledger_id;
    uint64_t sequence = 0;
    std::string file;  // as the entry names it
    uint64_t product = 0;
    int64_t received_utc = 0;  // when the witness received the entry
    std::string detail;        // the rest of the sentence
    // For Changed: whether the database keeps the bytes received, and then the lines that differ.
    bool old_bytes_known = false;
    std::vector<LedgerLineChange> changes;
};

struct WitnessReport {
    size_t witnessed = 0;    // entries received for this folder
    size_t proven = 0;       // files whose bytes are those of their entry received
    size_t unwitnessed = 0;  // entries of the ledger not received yet (ingest sends them)
    std::vector<WitnessProblem> problems;
};

// The SHA-256 of a record file of the folder, by its path as the ledger names it; nothing when the
// folder has no such file.
using FolderFileHash = std::function<std::optional<std::string>(const std::string& file)>;

// Compares the folder's ledger (local) and its files with every ledger the store witnessed for it: the
// one of local's id, and one that names a file of the folder or of local and was written on a computer
// that wrote local too (or wherever, when the folder has no ledger): a ledger put in the place of the
// one witnessed. A file is compared with every entry received for it (a record file's bytes never
// change once saved); a changed file's lines with the bytes the database keeps of the file the entry
// names, where it holds them.
WitnessReport CompareWithWitness(RecordStore& store, const std::string& folder, const Ledger& local,
                                 const std::vector<std::string>& folder_files, const FolderFileHash& hash_of,
                                 Failure& failure);

// The same for a folder that CheckLedger checked: the files' SHA-256 come from it where it proved them,
// so that only the others are read again.
WitnessReport CompareFolderWithWitness(RecordStore& store, const LedgerCheck& check, const Ledger& local,
                                       Failure& failure);

// The bytes of the file an entry names as the database keeps them (found by the file's name, its size
// and the entry's SHA-256), for CheckLedger to show a changed file's lines.
RecordedBytes StoredRecordedBytes(RecordStore& store);

}  // namespace korvel
