// SPDX-License-Identifier: MIT
// What every database shares: which files are new, their records as rows, one unit of work per file.
#include "store/record_store.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <future>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "archive/archive.h"
#include "protocol/checked_line.h"
#include "records/record_file.h"
#include "text/cfile.h"
#include "text/failure_texts.h"
#include "text/shown.h"
#include "text/utf8.h"

namespace korvel {
namespace {

// One step of a lane: the word multiplied in, rotated, multiplied again (the shape of the well-known
// fast non-cryptographic hashes, with 64-bit arithmetic only, so 32-bit builds compile it too).
uint64_t Step(uint64_t lane, uint64_t word, uint64_t k) {
    lane ^= word * k;
    lane = (lane << 27 | lane >> 37) * 0x9e3779b97f4a7c15ull;
    return lane + 0x632be59bd9b4e019ull;
}

uint64_t Finish(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

uint64_t Load64(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

bool ReadWhole(const std::string& path, std::string& bytes, Failure& failure) {
    CFile in;
    if (!in.Open(path, CFile::modeRead, &failure)) return false;
    const int64_t length = in.GetLength();
    bytes.resize(static_cast<size_t>(length < 0 ? 0 : length));
    const int64_t got = bytes.empty() ? 0 : in.Read(bytes.data(), bytes.size(), &failure);
    if (got < 0) return false;
    bytes.resize(static_cast<size_t>(got));
    return true;
}

bool PlainAscii(std::string_view text) {
    for (char c : text)
        if (c <= 0 || c > 0x7E) return false;
    return true;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The order a folder's walk meets two files in: name by name, folder by folder.
bool WalkOrder(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const size_t a_end = std::min(a.find('/', i), a.size()), b_end = std::min(b.find('/', j), b.size());
        const int order =
            std::string_view(a).substr(i, a_end - i).compare(std::string_view(b).substr(j, b_end - j));
        if (order != 0) return order < 0;
        i = a_end + 1;
        j = b_end + 1;
    }
    return a.size() - std::min(i, a.size()) < b.size() - std::min(j, b.size());
}

// Where a URL holds a secret: the password after the user name (up to the last '@' before the query, so
// a password with an '@' or a '/' of its own is covered whole), and the value of every parameter whose name
// ends in "password" (password=, sslpassword=).
std::vector<std::pair<size_t, size_t>> SecretSpans(const std::string& url) {
    std::vector<std::pair<size_t, size_t>> spans;
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        const size_t start = scheme + 3, query = std::min(url.find('?', start), url.size());
        const size_t at = query > start ? url.rfind('@', query - 1) : std::string::npos;
        if (at != std::string::npos && at >= start) {
            const size_t colon = url.find(':', start);
            if (colon < at) spans.emplace_back(colon + 1, at);
        }
    }
    std::string lower = url;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (size_t at = lower.find("password"); at != std::string::npos; at = lower.find("password", at + 1)) {
        size_t value = at + 8;
        while (value < url.size() && url[value] == ' ') ++value;
        if (value >= url.size() || url[value] != '=') continue;
        ++value;
        while (value < url.size() && url[value] == ' ') ++value;
        const size_t end = std::min(url.find_first_of("& ", value), url.size());
        spans.emplace_back(value, end);
    }
    return spans;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

}  // namespace

std::vector<std::string> UrlSecrets(const std::string& url) {
    std::vector<std::string> secrets;
    auto add = [&](const std::string& secret) {
        if (secret.empty()) return;
        secrets.push_back(secret);
        for (size_t begin = 0; begin < secret.size();) {
            const size_t end = std::min(secret.find_first_of("@/:?&=#,[]", begin), secret.size());
            if (end - begin >= 3 && end - begin < secret.size())
                secrets.push_back(secret.substr(begin, end - begin));
            begin = end + 1;
        }
    };
    for (const auto& [begin, end] : SecretSpans(url)) {
        const std::string secret = url.substr(begin, end - begin);
        add(secret);
        add(PercentDecoded(secret));
    }
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    return secrets;
}

std::string MaskSecrets(std::string text, const std::vector<std::string>& secrets) {
    for (const std::string& secret : secrets)
        for (size_t at = text.find(secret); at != std::string::npos; at = text.find(secret, at + 3))
            text.replace(at, secret.size(), "***");
    return text;
}

std::string UrlWithoutPassword(const std::string& url) {
    std::string shown = url;
    std::vector<std::pair<size_t, size_t>> spans = SecretSpans(url);
    std::sort(spans.rbegin(), spans.rend());
    for (const auto& [begin, end] : spans) shown.replace(begin, end - begin, "***");
    return Shown(MaskSecrets(shown, UrlSecrets(url)));
}

Failure RecordStore::AddFiles(const std::vector<const StoredFile*>& files,
                              std::vector<FileOutcome>& outcomes) {
    outcomes.clear();
    for (const StoredFile* file : files) {
        FileOutcome outcome;
        if (Failure f = AddFile(*file, outcome.added, outcome.loaded)) return f;
        outcomes.push_back(outcome);
    }
    return {};
}

std::string ContentHash(std::string_view bytes) {
    constexpr uint64_t k0 = 0xa0761d6478bd642full, k1 = 0xe7037ed1a0b428dbull, k2 = 0x8ebc6af09c88c6e3ull;
    uint64_t a = k0 ^ bytes.size(), b = k1 + bytes.size();
    size_t at = 0;
    for (; at + 16 <= bytes.size(); at += 16) {
        const uint64_t x = Load64(bytes.data() + at), y = Load64(bytes.data() + at + 8);
        a = Step(a, x, k1);
        b = Step(b, y, k2);
    }
    char tail[16] = {};
    if (at < bytes.size()) std::memcpy(tail, bytes.data() + at, bytes.size() - at);
    a = Finish(Step(a, Load64(tail), k1) ^ b);
    b = Finish(Step(b, Load64(tail + 8), k2) ^ a);
    char hex[33];
    for (int i = 0; i < 16; ++i) {
        const uint64_t half = i < 8 ? a : b;
        const unsigned byte = static_cast<unsigned>(half >> (8 * (7 - i % 8))) & 0xFF;
        hex[2 * i] = "0123456789abcdef"[byte >> 4];
        hex[2 * i + 1] = "0123456789abcdef"[byte & 15];
    }
    return std::string(hex, 32);
}

std::string DefaultDatabasePath() {
    // Beside the upload folder, so the records and the files they came from stay together.
    std::string folder = WideToUtf8(ResolveUploadFolder());
    constexpr std::string_view kUpload = "/hollin.data/upload";
    if (folder.size() >= kUpload.size() &&
        folder.compare(folder.size() - kUpload.size(), kUpload.size(), kUpload) == 0)
        folder.resize(folder.size() - std::string_view("/upload").size());
    return folder + "/korvel.sqlite";
}

Failure SchemaProblem(const RecordStore& store, int version, StoreUse use) {
    namespace say = failure_text;
    const int current = store.CurrentSchemaVersion();
    if (version > current) return {FailureKind::Other, say::SchemaNewer(store.Name(), version, current), 0};
    // Reading does not change it unasked: the upgrade is ingest's, which may take a while on a big one.
    if (use == StoreUse::Load || version == current) return {};
    if (version == 0) return {FailureKind::Absent, say::SchemaNone(store.Name()), 0};
    return {FailureKind::Other, say::SchemaOlder(store.Name(), version, current), 0};
}

Failure ReadableSchema(RecordStore& store) {
    Failure failure;
    const int version = store.SchemaVersion(failure);
    return failure ? failure : SchemaProblem(store, version, StoreUse::Read);
}

Archive ReadStoredArchive(RecordStore& store, Failure& failure) {
    std::vector<StoredFileEntry> entries;
    if ((failure = store.ListFiles(entries))) return {};
    // The order the folder's walk met them in, by the names' own bytes.
    std::stable_sort(entries.begin(), entries.end(), [](const StoredFileEntry& a, const StoredFileEntry& b) {
        return WalkOrder(a.raw_path.empty() ? a.path : a.raw_path, b.raw_path.empty() ? b.path : b.raw_path);
    });
    std::vector<ArchiveFile> files;
    std::unordered_map<std::string, const StoredFileEntry*> by_key;  // the ArchiveFile's path is the row's id
    for (const StoredFileEntry& entry : entries) {
        const std::optional<uint32_t> product = ProductFromFileName(entry.name);
        if (!product) continue;
        files.push_back({std::to_string(entry.id), entry.path, NameTimeFromFileName(entry.name), *product});
        by_key.emplace(files.back().path, &entry);
    }
    // One connection serves the readers one at a time; they check the lines of the files meanwhile.
    std::mutex mutex;
    Failure first_failure;
    Archive archive =
        ReadArchive(store.Name(), std::move(files),
                    [&](const ArchiveFile& file, std::string& bytes, size_t& length, std::string& problem) {
                        const StoredFileEntry& entry = *by_key.at(file.path);
                        if (!entry.has_bytes) {
                            problem = failure_text::StoredWithoutBytes(file.relative);
                            return;
                        }
                        std::lock_guard lock(mutex);
                        if (first_failure) {
                            problem = file.relative + ": " + first_failure.message;
                            return;
                        }
                        bytes.clear();
                        if (Failure f = store.FileBytes(entry.id, bytes)) {
                            first_failure = f;
                            problem = file.relative + ": " + f.message;
                        }
                        length = bytes.size();
                    });
    failure = first_failure;
    return archive;
}

IngestReport IngestFolder(RecordStore& store, const std::string& folder, const std::string& host) {
    IngestReport report;
    // Each file is read once, by the archive's readers: its bytes are hashed, asked for in the store,
    // parsed, and kept for the store, up to kKeptBytes in all (beyond that a file is read again when it
    // is loaded, and must not have changed since). A file the store holds is given to the archive empty.
    constexpr size_t kKeptBytes = size_t{256} << 20;
    std::mutex mutex;                                         // the store and what follows
    std::unordered_map<std::string, StoredFile> wanted;       // by path: what the store does not hold
    std::unordered_map<std::string, std::string> unreadable;  // by path: why it could not be read
    size_t kept = 0;
    const Archive archive = ReadArchive(
        folder,
        [&](const ArchiveFile&) {
            ++report.files;
            return true;
        },
        [&](const ArchiveFile& file, std::string& buffer, size_t& length, std::string& problem) {
            ReadFromDisk(file, buffer, length, problem);
            std::lock_guard lock(mutex);
            if (!problem.empty()) {
                unreadable.emplace(file.path, problem);
                return;
            }
            const std::string_view bytes(buffer.data(), length);
            if (report.failure) {
                length = 0;
                return;
            }
            StoredFile stored;
            // A name that is not UTF-8 (a share mounted without a UTF-8 character set) is kept as it is
            // beside the name shown, which is what the database's text can hold.
            stored.name = BaseName(file.path);
            if (const std::optional<uint32_t> product = ProductFromFileName(stored.name))
                stored.product = *product;
            if (!HoldsAsText(stored.name)) stored.raw_name = std::exchange(stored.name, Shown(stored.name));
            stored.size = static_cast<int64_t>(bytes.size());
            stored.hash = ContentHash(bytes);
            stored.path = file.relative;
            if (file.path.size() > folder.size() && file.path.compare(0, folder.size(), folder) == 0) {
                const std::string relative = file.path.substr(folder.size() + 1);
                if (!HoldsAsText(relative)) stored.raw_path = relative;
            }
            stored.host = host;
            const bool held = store.HasFile(stored, report.failure);
            if (held || report.failure) {
                if (held) ++report.skipped;
                length = 0;
                return;
            }
            if (kept + bytes.size() <= kKeptBytes) {
                stored.bytes = bytes;
                kept += bytes.size();
            }
            wanted.emplace(file.path, std::move(stored));
        });
    if (report.failure) return report;
    // Files that could not be read, in the order of the walk, then the folders.
    for (const ArchiveFile& file : archive.files)
        if (const auto it = unreadable.find(file.path); it != unreadable.end())
            report.problems.push_back(it->second);
    report.problems.insert(report.problems.end(), archive.folders.begin(), archive.folders.end());

    // Each record goes with the first file that holds it; a later file's repeat of it adds nothing.
    struct Unit {
        StoredFile* file;  // nullptr for a file the store holds or that could not be read
        std::vector<std::pair<const DeviceArchive*, size_t>> records;
    };
    std::vector<Unit> units;
    units.reserve(archive.files.size());
    for (const ArchiveFile& file : archive.files) {
        const auto it = wanted.find(file.path);
        Unit unit{it == wanted.end() ? nullptr : &it->second, {}};
        if (unit.file) unit.file->distinct = static_cast<int64_t>(file.distinct);
        units.push_back(std::move(unit));
    }
    for (const DeviceArchive& device : archive.devices) {
        for (size_t i = 0; i < device.records.size(); ++i)
            units[device.records[i].file].records.emplace_back(&device, i);
        for (const DamagedLine& line : device.damaged) ++units[line.where.file].file->damaged;
        for (const UnlistedDamage& more : device.unlisted)
            units[more.file].file->damaged += static_cast<int64_t>(more.lines);
    }

    // The files go to the store in batches; while the store loads one, the next is read and made into
    // rows beside it.
    struct Batch {
        std::vector<StoredFile*> files;
        std::vector<std::string> problems;
        int64_t records = 0, damaged = 0;
        size_t next = 0;  // the first unit after it
    };
    auto gather = [&](size_t from) {
        constexpr size_t kBatchRecords = 50000, kBatchBytes = 16u << 20;
        Batch batch;
        size_t records = 0, batch_bytes = 0;
        std::string scratch;
        for (batch.next = from; batch.next < units.size(); ++batch.next) {
            Unit& unit = units[batch.next];
            if (!unit.file) continue;
            StoredFile& file = *unit.file;
            if (!batch.files.empty() && (records + unit.records.size() > kBatchRecords ||
                                         batch_bytes + static_cast<size_t>(file.size) > kBatchBytes))
                break;
            // The bytes go in beside the records, so archive --db reads the same lines; a file read again
            // that changed since it was hashed waits for the next run.
            Failure read_again;
            const bool kept_bytes = file.bytes.size() == static_cast<size_t>(file.size);
            if (!kept_bytes && !ReadWhole(archive.files[batch.next].path, file.bytes, read_again)) {
                batch.problems.push_back(Shown(read_again.message));
                continue;
            }
            if (!kept_bytes && ContentHash(file.bytes) != file.hash) {
                batch.problems.push_back(file.path +
                                         ": the file changed while it was loaded; run ingest again");
                file.bytes = {};
                continue;
            }
            file.records.reserve(unit.records.size());
            for (const auto& [device, index] : unit.records) {
                const ArchiveRecord& record = device->records[index];
                StoredRecord row;
                row.product = device->product;
                row.utc = record.utc;
                row.offset_minutes = record.offset;
                row.value = RecordValue(*device, record, scratch);
                std::string text = RecordTimestamp(record);
                text += ' ';
                text += row.value;
                text += ' ';
                text += device->spellings[record.spelling];
                row.line = WithChecksum(text);
                // A database's text holds neither zero bytes nor broken UTF-8: such a line is left out,
                // and counted, rather than failing its whole file.
                if (!PlainAscii(row.line) && !HoldsAsText(row.line)) {
                    ++file.damaged;
                    continue;
                }
                file.records.push_back(std::move(row));
            }
            batch.records += static_cast<int64_t>(file.records.size());
            batch.damaged += file.damaged;
            batch.files.push_back(&file);
            records += file.records.size();
            batch_bytes += file.bytes.size();
        }
        return batch;
    };
    // A batch that fails goes again file by file, so that the files before the one at fault get in and
    // the failure names it.
    auto load = [&](const Batch& batch) {
        const std::vector<const StoredFile*> files(batch.files.begin(), batch.files.end());
        std::vector<FileOutcome> outcomes;
        report.failure = store.AddFiles(files, outcomes);
        if (report.failure && outcomes.empty() && files.size() > 1) {
            for (const StoredFile* file : files) {
                std::vector<FileOutcome> one;
                if ((report.failure = store.AddFiles({file}, one))) break;
                outcomes.insert(outcomes.end(), one.begin(), one.end());
            }
        }
        for (const FileOutcome& outcome : outcomes) {
            report.added += outcome.added;
            report.loaded += outcome.loaded ? 1 : 0;
            if (!outcome.loaded) ++report.skipped;
        }
        for (StoredFile* file : batch.files) {
            file->records = {};
            file->bytes = {};
        }
        return !report.failure;
    };
    std::future<Batch> coming = std::async(std::launch::async, gather, size_t{0});
    for (;;) {
        const Batch batch = coming.get();
        report.problems.insert(report.problems.end(), batch.problems.begin(), batch.problems.end());
        report.records += batch.records;
        report.damaged += batch.damaged;
        if (batch.next < units.size()) coming = std::async(std::launch::async, gather, batch.next);
        const bool loaded = batch.files.empty() || load(batch);
        if (!loaded || !coming.valid()) break;
    }
    // After a failure the batch read meanwhile is not loaded; its memory goes with the units.
    if (coming.valid()) coming.wait();
    return report;
}

}  // namespace korvel
