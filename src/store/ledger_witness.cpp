// SPDX-License-Identifier: MIT
#include "store/ledger_witness.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

#include "platform/sha256.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/shown.h"

namespace korvel {
namespace {

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The bytes the database keeps of the file an entry names, found by the file's name and the entry's
// SHA-256; nothing where it holds none.
class StoredBytes {
  public:
    explicit StoredBytes(RecordStore& store) : store_(store) {}

    std::optional<std::string> Of(const LedgerEntry& entry) {
        if (!listed_) {
            listed_ = true;
            std::vector<StoredFileEntry> files;
            if (store_.ListFiles(files)) return {};
            for (const StoredFileEntry& file : files)
                if (file.has_bytes) by_name_.emplace(BaseName(file.name), file.id);
        }
        const auto [from, to] = by_name_.equal_range(BaseName(entry.file));
        for (auto it = from; it != to; ++it) {
            std::string bytes;
            if (store_.FileBytes(it->second, bytes)) continue;
            if (bytes.size() == entry.size && Sha256Hex(bytes) == entry.sha256) return bytes;
        }
        return {};
    }

  private:
    RecordStore& store_;
    bool listed_ = false;
    std::unordered_multimap<std::string, int64_t> by_name_;
};

bool ReadWhole(const std::string& path, std::string& bytes) {
    CFile in;
    if (!in.Open(path, CFile::modeRead)) return false;
    bytes.clear();
    char chunk[65536];
    int64_t got;
    while ((got = in.Read(chunk, sizeof chunk)) > 0) bytes.append(chunk, static_cast<size_t>(got));
    return got == 0;
}

// Whether two entries are the same, field by field: an entry edited without its hash computed again is
// another entry too.
bool SameEntry(const LedgerEntry& a, const LedgerEntry& b) {
    return a.hash == b.hash && LedgerEntryText(a) == LedgerEntryText(b);
}

}  // namespace

std::string_view WitnessFindingWord(WitnessFinding::Kind kind) {
    switch (kind) {
        case WitnessFinding::Kind::Truncated:
            return "truncated";
        case WitnessFinding::Kind::Replaced:
            return "replaced";
        case WitnessFinding::Kind::Rewritten:
            break;
    }
    return "rewritten";
}

LedgerEntryKind LedgerKindOf(std::string_view word) {
    return word == LedgerKindWord(LedgerEntryKind::Adopted) ? LedgerEntryKind::Adopted
                                                            : LedgerEntryKind::Downloaded;
}

WitnessBatch PlanWitness(const Ledger& local, const std::vector<WitnessedEntry>& witnessed,
                         const std::vector<WitnessedEntry>& others, const std::string& host) {
    WitnessBatch batch{local.id, host, {}, {}};
    std::map<uint64_t, const WitnessedEntry*> received;
    for (const WitnessedEntry& w : witnessed)
        if (w.ledger_id == local.id) received.emplace(w.entry.sequence, &w);
    std::set<uint64_t> held;
    for (const LedgerEntry& entry : local.entries) {
        held.insert(entry.sequence);
        const auto it = received.find(entry.sequence);
        if (it == received.end()) {
            batch.entries.push_back(entry);
        } else if (!SameEntry(it->second->entry, entry)) {
            const WitnessedEntry& w = *it->second;
            batch.findings.push_back({local.id, entry.sequence, WitnessFinding::Kind::Rewritten,
                                      static_cast<int64_t>(w.entry.product), w.entry.file,
                                      LedgerEntryHash(entry), w.received_utc});
        }
    }
    for (const auto& [sequence, w] : received)
        if (!held.count(sequence))
            batch.findings.push_back({local.id, sequence, WitnessFinding::Kind::Truncated,
                                      static_cast<int64_t>(w->entry.product), w->entry.file, "",
                                      w->received_utc});
    std::multimap<std::string, const WitnessedEntry*> elsewhere;
    for (const WitnessedEntry& w : others)
        if (w.ledger_id != local.id) elsewhere.emplace(w.entry.file, &w);
    for (const LedgerEntry& entry : batch.entries) {
        const auto [from, to] = elsewhere.equal_range(entry.file);
        for (auto it = from; it != to; ++it) {
            const WitnessedEntry& w = *it->second;
            if (w.entry.sha256 == entry.sha256) continue;
            batch.findings.push_back({w.ledger_id, w.entry.sequence, WitnessFinding::Kind::Replaced,
                                      static_cast<int64_t>(w.entry.product), w.entry.file, entry.hash,
                                      w.received_utc});
        }
    }
    return batch;
}

WitnessBatch QueueLedgerWitness(RecordStore& store, const Ledger& ledger, const std::string& host,
                                Failure& failure) {
    if (ledger.id.empty()) return {};
    std::vector<WitnessedEntry> witnessed, others;
    if ((failure = store.Witnessed(ledger.id, witnessed))) return {};
    std::set<uint64_t> received;
    for (const WitnessedEntry& w : witnessed) received.insert(w.entry.sequence);
    std::vector<std::string> files;
    for (const LedgerEntry& entry : ledger.entries)
        if (!received.count(entry.sequence)) files.push_back(entry.file);
    if (!files.empty() && (failure = store.WitnessedFiles(ledger.id, files, others))) return {};
    WitnessBatch batch = PlanWitness(ledger, witnessed, others, host);
    if (!batch.empty()) store.QueueWitness(batch);
    return batch;
}

WitnessReport CompareWithWitness(RecordStore& store, const std::string& folder, const Ledger& local,
                                 const std::vector<std::string>& folder_files, const FolderFileHash& hash_of,
                                 Failure& failure) {
    WitnessReport report;
    std::vector<WitnessedEntry> all;
    if ((failure = store.Witnessed("", all))) return report;

    // The ledgers witnessed for this folder: its own, and one that names the folder's files where it was
    // written on a computer that wrote the folder's ledger too (or the folder has none): a ledger put in
    // the place of the one witnessed. A copy of the files adopted on another computer is not its concern.
    std::set<std::string> names(folder_files.begin(), folder_files.end()), local_hosts;
    for (const LedgerEntry& entry : local.entries) {
        names.insert(entry.file);
        local_hosts.insert(entry.host);
    }
    std::map<std::string, std::pair<bool, bool>> ledgers;  // id → names a file here, shares a host
    for (const WitnessedEntry& w : all) {
        auto& [named, shared] = ledgers[w.ledger_id];
        named = named || names.count(w.entry.file) > 0;
        shared = shared || local_hosts.empty() || local_hosts.count(w.entry.host) > 0;
    }
    std::set<std::string> relevant;
    for (const auto& [id, seen] : ledgers)
        if (id == local.id || (seen.first && seen.second)) relevant.insert(id);

    std::map<uint64_t, const LedgerEntry*> held;
    for (const LedgerEntry& entry : local.entries) held.emplace(entry.sequence, &entry);
    std::set<uint64_t> received;
    std::map<std::string, std::vector<const WitnessedEntry*>> by_file;
    std::map<std::string, std::vector<const WitnessedEntry*>> others;  // the other ledgers' entries
    for (const WitnessedEntry& w : all) {
        if (!relevant.count(w.ledger_id)) continue;
        ++report.witnessed;
        by_file[w.entry.file].push_back(&w);
        const LedgerEntry& e = w.entry;
        auto problem = [&](WitnessProblem::Kind kind, std::string detail) {
            report.problems.push_back({kind,
                                       w.ledger_id,
                                       e.sequence,
                                       e.file,
                                       e.product,
                                       w.received_utc,
                                       std::move(detail),
                                       false,
                                       {}});
        };
        if (w.ledger_id != local.id) {
            others[w.ledger_id].push_back(&w);
            continue;
        }
        received.insert(e.sequence);
        const auto it = held.find(e.sequence);
        if (it == held.end()) {
            problem(WitnessProblem::Kind::Truncated, "the ledger no longer holds this entry");
        } else if (!SameEntry(*it->second, e)) {
            std::string detail = "the ledger's entry is not the one received";
            if (it->second->file != e.file)
                detail += ": it names " + it->second->file + " instead";
            else if (it->second->sha256 != e.sha256)
                detail += ": it gives the file another SHA-256";
            problem(WitnessProblem::Kind::Rewritten, detail);
        }
    }
    for (const LedgerEntry& entry : local.entries)
        report.unwitnessed += received.count(entry.sequence) ? 0 : 1;
    for (const auto& [id, entries] : others) {
        const WitnessedEntry& last = *entries.back();
        report.problems.push_back({WitnessProblem::Kind::OtherLedger,
                                   id,
                                   last.entry.sequence,
                                   last.entry.file,
                                   last.entry.product,
                                   last.received_utc,
                                   "ledger " + id + " (" + std::to_string(entries.size()) +
                                       (entries.size() == 1 ? " entry" : " entries") +
                                       " received) names this folder's files but " +
                                       (local.id.empty() ? "the folder has no ledger"
                                                         : "is not the folder's ledger (" + local.id + ")"),
                                   false,
                                   {}});
    }

    // Each file against every entry received for it: its bytes never change once saved.
    const auto stored = std::make_shared<StoredBytes>(store);
    for (const auto& [file, entries] : by_file) {
        const std::optional<std::string> now = hash_of(file);
        const WitnessedEntry& first = *entries.front();
        if (!now) {
            report.problems.push_back({WitnessProblem::Kind::Deleted,
                                       first.ledger_id,
                                       first.entry.sequence,
                                       file,
                                       first.entry.product,
                                       first.received_utc,
                                       "recorded, not in the folder",
                                       false,
                                       {}});
            continue;
        }
        bool proven = true;
        std::set<std::string> told;
        for (const WitnessedEntry* w : entries) {
            if (w->entry.sha256 == *now || !told.insert(w->entry.sha256).second) continue;
            proven = false;
            WitnessProblem problem{WitnessProblem::Kind::Changed,
                                   w->ledger_id,
                                   w->entry.sequence,
                                   file,
                                   w->entry.product,
                                   w->received_utc,
                                   "its bytes are not those received",
                                   false,
                                   {}};
            std::string bytes;
            if (const std::optional<std::string> recorded = stored->Of(w->entry);
                recorded && ReadWhole(folder + "/" + file, bytes)) {
                problem.old_bytes_known = true;
                problem.changes = DifferingLines(*recorded, bytes);
            }
            report.problems.push_back(std::move(problem));
        }
        report.proven += proven ? 1 : 0;
    }
    return report;
}

WitnessReport CompareFolderWithWitness(RecordStore& store, const LedgerCheck& check, const Ledger& local,
                                       Failure& failure) {
    // The check names every file of the folder that it did not prove; a file it proved holds the bytes
    // of the entry that recorded it.
    std::set<std::string> absent, other;
    std::vector<std::string> folder_files;
    for (const LedgerDeviceCheck& device : check.devices) {
        for (const LedgerFileCheck& f : device.missing) absent.insert(f.file);
        for (const auto* list : {&device.changed, &device.unrecorded, &device.unreadable})
            for (const LedgerFileCheck& f : *list) {
                other.insert(f.file);
                folder_files.push_back(f.file);
            }
    }
    std::map<std::string, std::string> proven;
    for (const LedgerEntry& entry : local.entries)
        if (!absent.count(entry.file) && !other.count(entry.file)) {
            proven[entry.file] = entry.sha256;
            folder_files.push_back(entry.file);
        }
    const std::string folder = check.folder;
    const FolderFileHash hash_of = [&](const std::string& file) -> std::optional<std::string> {
        if (absent.count(file)) return {};
        if (const auto it = proven.find(file); it != proven.end()) return it->second;
        const std::string path = folder + "/" + file;
        std::string hex;
        if (!FileExists(path) || Sha256File(path, hex)) return {};
        return hex;
    };
    return CompareWithWitness(store, folder, local, folder_files, hash_of, failure);
}

RecordedBytes StoredRecordedBytes(RecordStore& store) {
    const auto stored = std::make_shared<StoredBytes>(store);
    return [stored](const LedgerEntry& entry) { return stored->Of(entry); };
}

}  // namespace korvel
