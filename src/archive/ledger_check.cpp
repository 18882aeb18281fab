// SPDX-License-Identifier: MIT
#include "archive/ledger_check.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "archive/archive.h"
#include "platform/sha256.h"
#include "records/record_tree.h"
#include "text/file_system.h"
#include "text/shown.h"

namespace korvel {
namespace {

// A record file found in the folder, and what its bytes hash to.
struct FoundFile {
    std::string path;      // as the file system takes it
    std::string relative;  // as the bytes are
    std::string field;     // as the ledger writes it
    uint32_t product = 0;
    std::string sha256;
    uint64_t size = 0;
    Failure failure;
};

// The hashes of the files, on a few threads: most of the time goes into reading and hashing, which the
// system's hash does at the disk's pace; the files are independent.
void HashFiles(std::vector<FoundFile>& files) {
    const size_t threads = std::min<size_t>(std::clamp<unsigned>(std::thread::hardware_concurrency(), 1, 4),
                                            files.size() / 8 + 1);
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < files.size();)
            files[i].failure = Sha256File(files[i].path, files[i].sha256, &files[i].size);
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& thread : pool) thread.join();
}

LedgerDeviceCheck& DeviceOf(std::map<uint64_t, LedgerDeviceCheck>& devices, uint64_t product) {
    LedgerDeviceCheck& device = devices[product];
    device.product = product;
    return device;
}

void CheckChain(const Ledger& ledger, LedgerChain& chain) {
    std::string previous = kLedgerGenesis;
    for (size_t i = 0; i < ledger.entries.size(); ++i) {
        const LedgerEntry& e = ledger.entries[i];
        std::string why;
        if (e.sequence != i + 1) {
            why = "its sequence is " + std::to_string(e.sequence) + " where " + std::to_string(i + 1) +
                  " follows: an entry before it was removed or one put in";
        } else if (e.previous != previous) {
            why =
                "it does not link to the entry before it: an entry before it was changed, removed or put in";
        } else if (e.hash != LedgerEntryHash(e)) {
            why = "its own hash does not match its fields: the entry was changed";
        }
        if (!why.empty()) {
            chain = {false, i + 2, e.sequence, why};
            return;
        }
        previous = e.hash;
    }
    if (ledger.unreadable_line) chain = {false, ledger.unreadable_line, 0, ledger.unreadable_reason};
}

}  // namespace

bool LedgerCheck::AllProven() const {
    return has_ledger && chain.intact && problems.empty() &&
           std::all_of(devices.begin(), devices.end(),
                       [](const LedgerDeviceCheck& d) { return d.AllProven(); });
}

size_t LedgerCheck::Count(LedgerFileState state) const {
    size_t count = 0;
    for (const LedgerDeviceCheck& d : devices) {
        switch (state) {
            case LedgerFileState::Proven:
                count += d.proven;
                break;
            case LedgerFileState::Changed:
                count += d.changed.size();
                break;
            case LedgerFileState::Missing:
                count += d.missing.size();
                break;
            case LedgerFileState::Unrecorded:
                count += d.unrecorded.size();
                break;
            case LedgerFileState::Unreadable:
                count += d.unreadable.size();
                break;
        }
    }
    return count;
}

size_t LedgerCheck::Adopted() const {
    size_t count = 0;
    for (const LedgerDeviceCheck& d : devices) count += d.adopted;
    return count;
}

std::vector<LedgerLineChange> DifferingLines(std::string_view recorded, std::string_view current) {
    const auto split = [](std::string_view text) {
        std::vector<std::string_view> lines;
        for (size_t start = 0; start < text.size();) {
            const size_t lf = text.find('\n', start);
            lines.push_back(text.substr(start, lf == std::string_view::npos ? lf : lf - start));
            start = lf == std::string_view::npos ? text.size() : lf + 1;
        }
        return lines;
    };
    const std::vector<std::string_view> a = split(recorded), b = split(current);
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    if (head == a.size() && head == b.size()) return {};
    LedgerLineChange change;
    change.recorded_from = head + 1;
    change.current_from = head + 1;
    for (size_t i = head; i < a.size() - tail; ++i) change.recorded.push_back(Shown(a[i]));
    for (size_t i = head; i < b.size() - tail; ++i) change.current.push_back(Shown(b[i]));
    return {change};
}

Failure CheckLedger(const std::string& folder, LedgerCheck& check, const RecordedBytes& recorded) {
    Ledger ledger;
    return CheckLedger(folder, check, ledger, recorded);
}

Failure CheckLedger(const std::string& folder, LedgerCheck& check, Ledger& ledger,
                    const RecordedBytes& recorded) {
    check = {};
    check.folder = folder;
    check.ledger_path = LedgerPath(folder);
    if (Failure failure = ReadLedger(folder, ledger)) return failure;
    check.has_ledger = FileExists(check.ledger_path);
    check.id = ledger.id;
    check.entries = ledger.entries.size();
    CheckChain(ledger, check.chain);

    std::vector<FoundFile> files;
    RecordTreeVisitor visitor;
    visitor.wanted = [](std::string_view name) { return ProductFromFileName(name).has_value(); };
    visitor.on_file = [&](const std::string& path, const std::string& relative) {
        FoundFile file;
        file.path = path;
        file.relative = relative;
        file.field = LedgerField(relative);
        const size_t slash = relative.rfind('/');
        file.product = *ProductFromFileName(
            std::string_view(relative).substr(slash == std::string::npos ? 0 : slash + 1));
        files.push_back(std::move(file));
    };
    visitor.on_unreadable = [&](const std::string& where, const Failure& why) {
        check.problems.push_back(Shown(where) + ": " + (why.reason.empty() ? why.message : why.reason));
    };
    WalkRecordTree(folder, visitor);
    HashFiles(files);

    // The last entry of each file, and which entry's bytes a hash stands for.
    std::unordered_map<std::string, const LedgerEntry*> by_file, by_hash;
    for (const LedgerEntry& e : ledger.entries) {
        by_file[e.file] = &e;
        by_hash.try_emplace(e.sha256, &e);
    }

    std::map<uint64_t, LedgerDeviceCheck> devices;
    std::unordered_map<std::string, bool> present;
    for (FoundFile& f : files) {
        present[f.field] = true;
        const auto it = by_file.find(f.field);
        const LedgerEntry* entry = it == by_file.end() ? nullptr : it->second;
        LedgerFileCheck c;
        c.file = f.field;
        c.relative = f.relative;
        if (entry) {
            c.entry = entry->sequence;
            c.kind = entry->kind;
            c.recorded_at = entry->utc_time;
        }
        LedgerDeviceCheck& device = DeviceOf(devices, entry ? entry->product : f.product);
        if (f.failure) {
            c.state = LedgerFileState::Unreadable;
            c.problem = f.failure.reason.empty() ? f.failure.message : f.failure.reason;
            device.unreadable.push_back(std::move(c));
            continue;
        }
        if (!entry) {
            c.state = LedgerFileState::Unrecorded;
            c.size = f.size;
            device.unrecorded.push_back(std::move(c));
            continue;
        }
        if (f.sha256 == entry->sha256 && f.size == entry->size) {
            ++device.proven;
            if (entry->kind == LedgerEntryKind::Adopted) ++device.adopted;
            continue;
        }
        // Changed: what the folder holds now, beside what was recorded.
        c.state = LedgerFileState::Changed;
        c.recorded_size = entry->size;
        c.recorded_records = entry->records;
        RecordFileFacts facts;
        if (!ReadRecordFileFacts(f.path, entry->product, facts)) c.records = facts.records;
        c.size = f.size;
        if (const auto copy = by_hash.find(f.sha256); copy != by_hash.end() && copy->second != entry)
            c.copy_of = copy->second->file;
        if (recorded) {
            if (std::optional<std::string> old = recorded(*entry)) {
                std::string now;
                CFile file;
                if (file.Open(f.path, CFile::modeRead)) {
                    now.resize(static_cast<size_t>(std::max<int64_t>(0, file.GetLength())));
                    const int64_t got = file.Read(now.data(), now.size());
                    now.resize(static_cast<size_t>(std::max<int64_t>(0, got)));
                    c.old_bytes_known = true;
                    c.changes = DifferingLines(*old, now);
                }
            }
        }
        device.changed.push_back(std::move(c));
    }
    for (const auto& [file, entry] : by_file) {
        if (present.count(file)) continue;
        LedgerFileCheck c;
        c.state = LedgerFileState::Missing;
        c.file = file;
        c.entry = entry->sequence;
        c.kind = entry->kind;
        c.recorded_at = entry->utc_time;
        c.recorded_size = entry->size;
        c.recorded_records = entry->records;
        DeviceOf(devices, entry->product).missing.push_back(std::move(c));
    }
    for (auto& [product, device] : devices) {
        std::sort(device.missing.begin(), device.missing.end(),
                  [](const LedgerFileCheck& a, const LedgerFileCheck& b) { return a.entry < b.entry; });
        check.devices.push_back(std::move(device));
    }
    return {};
}

std::optional<LedgerCheck> FolderLedgerCheck(const std::string& folder) {
    if (!FileExists(LedgerPath(folder))) return std::nullopt;
    LedgerCheck check;
    if (const Failure failure = CheckLedger(folder, check)) {
        check.has_ledger = true;
        check.chain = {false, 1, 0, failure.message};
    }
    return check;
}

Failure AdoptUnrecorded(const LedgerCheck& check, size_t& adopted) {
    adopted = 0;
    std::vector<LedgerAppend> appends;
    for (const LedgerDeviceCheck& device : check.devices)
        for (const LedgerFileCheck& f : device.unrecorded)
            appends.push_back({f.relative, device.product, LedgerEntryKind::Adopted, {}});
    std::sort(appends.begin(), appends.end(),
              [](const LedgerAppend& a, const LedgerAppend& b) { return a.file < b.file; });
    for (LedgerAppend& append : appends) {
        const std::string path = RecordFilePath(check.folder, append.file);
        if (Failure failure = ReadRecordFileFacts(path, append.product, append.facts)) {
            failure.message = "the record file " + path + " cannot be read to adopt it: " +
                              (failure.reason.empty() ? failure.message : failure.reason);
            return failure;
        }
    }
    if (Failure failure = AppendLedgerEntries(check.folder, appends, SystemClock())) return failure;
    adopted = appends.size();
    return {};
}

}  // namespace korvel
