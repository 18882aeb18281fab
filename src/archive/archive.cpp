// SPDX-License-Identifier: MIT
#include "archive/archive.h"
#include "protocol/record_index.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "records/record_line.h"
#include "records/record_tree.h"
#include "text/cfile.h"
#include "text/civil_time.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/shown.h"
#include "text/utf8.h"

namespace korvel {
namespace {

constexpr size_t kKeyLength = kTimestampKeyLength;

// A whole number written the way a number prints (no leading zeros, no plus sign) that fits 32 bits:
// only then can the text be written again from the number.
std::optional<int32_t> CanonicalInt(std::string_view text) {
    if (text.empty() || text.size() > 11) return {};
    const bool negative = text[0] == '-';
    const std::string_view digits(text.data() + negative, text.size() - negative);
    if (digits.empty() || digits.size() > 10 || (digits[0] == '0' && (digits.size() > 1 || negative)))
        return {};
    int64_t magnitude = 0;
    for (char c : digits) {
        const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
        if (digit > 9) return {};
        magnitude = magnitude * 10 + digit;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX) return {};
    return static_cast<int32_t>(value);
}

// The record files below the archive's folder, with the download's start their names carry.
struct Lister {
    Archive& archive;

    void Walk(const std::string& folder) {
        WalkRecordTree(
            folder,
            {[](std::string_view name) { return ProductFromFileName(name).has_value(); },
             [&](const std::string& path, const std::string& relative) {
                 const std::string_view name = std::string_view(relative).substr(relative.rfind('/') + 1);
                 archive.files.push_back({path, Shown(relative), NameTime(name), *ProductFromFileName(name)});
             },
             [&](const std::string&, const Failure& error) {
                 archive.problems.push_back(Shown(error.message));
                 archive.folders.push_back(archive.problems.back());
             }});
    }

    static int64_t NameTime(std::string_view name) { return NameTimeFromFileName(name); }
};

}  // namespace

// "%u%02u%02u-%02u%02u%02u-..." with the year less 2000 unpadded, as yyyymmddhhmmss.
int64_t NameTimeFromFileName(std::string_view name) {
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash < 5 || dash > 9 || name.size() < dash + 8 ||
        name[dash + 7] != '-')
        return -1;
    int64_t date = 0;
    for (size_t i = 0; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        date = date * 10 + (name[i] - '0');
    }
    const int time = DecimalDigits(name, dash + 1, 6);
    if (time < 0) return -1;
    const int64_t year = 2000 + date / 10000;
    return (year * 10000 + date % 10000) * 1000000 + time;
}

namespace {

// One line as read from its file, before it meets the other files: either a record or damage.
struct ParsedLine {
    int64_t utc;
    int32_t value;      // the whole number, when the value is one
    uint32_t line;      // counted from 1
    uint32_t value_at;  // the value's and the product field's text in the file's bytes
    uint32_t product_at;
    uint16_t value_length;
    uint16_t product_length;
    int16_t offset;
    uint8_t flags;
    int8_t damage;  // a LineDamage: -1 for a record
};

// Damaged lines listed per file; the rest are counted. A file of nothing but damage costs no more.
constexpr size_t kListedDamage = 100;

struct ParsedFile {
    std::string storage;  // the file's bytes first; kept at its largest size, so refilling it writes no zeros
    size_t length = 0;
    std::string_view Bytes() const { return {storage.data(), length}; }
    std::vector<ParsedLine> lines;  // the records and the first kListedDamage damaged lines
    size_t unlisted = 0;            // damaged lines beyond those
    std::string problem;            // when the file could not be read
};

uint32_t NamedProduct(const ArchiveFile& file) { return file.product; }

// Reads and checks the lines of one file. Runs on several threads at once: it touches nothing shared.
class FileParser {
  public:
    explicit FileParser(const ArchiveSource& source) : source_(source) {}

    void Parse(const ArchiveFile& file, ParsedFile& out) {
        source_(file, out.storage, out.length, out.problem);
        if (!out.problem.empty()) return;
        checker_.ExpectProduct(NamedProduct(file));
        const std::string_view bytes = out.Bytes();
        uint32_t number = 0;
        size_t damaged = 0;
        // A byte-order mark some editors put first is no part of the first line, as the download's scan
        // of saved files skips it too.
        size_t position = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        while (position < bytes.size()) {
            const void* newline = std::memchr(bytes.data() + position, '\n', bytes.size() - position);
            const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - bytes.data())
                                       : bytes.size();
            const ParsedLine line = ParseLine(bytes, position, end - position, ++number);
            position = end + 1;
            if (line.damage >= 0 && ++damaged > kListedDamage) {
                ++out.unlisted;
                continue;
            }
            out.lines.push_back(line);
        }
    }

  private:
    ParsedLine ParseLine(std::string_view bytes, size_t at, size_t length, uint32_t number) {
        ParsedLine parsed{};
        parsed.line = number;
        const RecordLine line = checker_.Check(std::string_view(bytes.data() + at, length));
        parsed.damage = static_cast<int8_t>(line.damage);
        if (line.damage != LineDamage::kNone && line.damage != LineDamage::kOtherProduct) return parsed;
        parsed.product_at = static_cast<uint32_t>(line.product.data() - bytes.data());
        parsed.product_length = static_cast<uint16_t>(line.product.size());
        if (line.damage != LineDamage::kNone) return parsed;
        parsed.utc = line.clock - int64_t{line.offset} * 60;
        parsed.offset = static_cast<int16_t>(line.offset);
        parsed.flags = line.minus_zero ? ArchiveRecord::kMinusZero : 0;
        parsed.value_at = static_cast<uint32_t>(line.value.data() - bytes.data());
        parsed.value_length = static_cast<uint16_t>(line.value.size());
        if (const std::optional<int32_t> whole = CanonicalInt(line.value)) {
            parsed.value = *whole;
        } else {
            parsed.flags |= ArchiveRecord::kTextValue;
        }
        return parsed;
    }

    const ArchiveSource& source_;
    RecordLineChecker checker_;
};

}  // namespace

void ReadFromDisk(const ArchiveFile& file, std::string& buffer, size_t& length, std::string& problem) {
    CFile in;
    Failure error;
    if (!in.Open(file.path, CFile::modeRead, &error)) {
        problem = Shown(error.message);
        return;
    }
    const int64_t size = in.GetLength();
    // The memory of a larger file before is kept; a huge file's is given back.
    if (buffer.size() > (64u << 20)) buffer = std::string();
    length = static_cast<size_t>(std::max<int64_t>(size, 0));
    if (buffer.size() < length) buffer.resize(length);
    const int64_t got = length == 0 ? 0 : in.Read(buffer.data(), length, &error);
    if (got < 0 || got != size) {
        problem = got < 0 ? Shown(error.message)
                          : file.relative + ": the file changed while it was read; run the command again";
    }
}

namespace {

// Puts the files' lines together: one device per product number of the files' names, each record once,
// steps, set-backs and conflicts; then each device's files in the order their records say.
class Merger {
  public:
    explicit Merger(Archive& archive) : archive_(archive) {
        for (const ArchiveFile& file : archive.files) {
            Entry& entry = devices_[NamedProduct(file)];
            entry.device.product = NamedProduct(file);
            ++entry.files_left;
        }
    }

    void Merge(uint32_t index, const ParsedFile& parsed) {
        Entry& entry = Device(NamedProduct(archive_.files[index]));
        DeviceArchive& device = entry.device;
        device.files.push_back(index);
        if (device.files.size() == 1) Reserve(entry, parsed.lines.size());
        if (!parsed.problem.empty()) {
            archive_.problems.push_back(parsed.problem);
            device.unreadable.push_back(parsed.problem);
        }
        const std::string_view bytes = parsed.Bytes();
        const Span span{index, entry.sequence.size(), 0};
        bool have_previous = false;
        size_t previous = 0;
        std::string_view last_product;  // the product field of the record before in this file, and its index
        uint32_t last_spelling = UINT32_MAX;
        for (const ParsedLine& line : parsed.lines) {
            if (line.damage >= 0) {
                const auto damage = static_cast<LineDamage>(line.damage);
                const std::string_view field = bytes.substr(line.product_at, line.product_length);
                device.damaged.push_back(
                    {{index, line.line},
                     DamageReason(damage, field, device.product),
                     line.damage,
                     damage == LineDamage::kOtherProduct ? std::string(field) : std::string()});
                continue;
            }
            ++device.valid_lines;
            ArchiveRecord record{};
            record.utc = line.utc;
            record.offset = line.offset;
            record.file = index;
            record.flags = line.flags;
            record.value = line.value;
            const std::string_view product(bytes.data() + line.product_at, line.product_length);
            if (last_spelling == UINT32_MAX || !SameShortText(product, last_product)) {
                last_spelling = Intern(device.spellings, entry.spelling_index, product);
                last_product = product;
            }
            record.spelling = last_spelling;
            if (line.flags & ArchiveRecord::kTextValue)
                record.value = static_cast<int32_t>(
                    Intern(device.texts, entry.text_index, bytes.substr(line.value_at, line.value_length)));
            const size_t known = device.records.size();
            const size_t at = Insert(entry, record);
            entry.sequence.push_back(static_cast<uint32_t>(at));
            if (at == known && (line.flags & ArchiveRecord::kTextValue) &&
                !ValueIsNumber(device.texts[static_cast<size_t>(record.value)]))
                device.no_number.push_back({{index, line.line}, at});
            if (have_previous) {
                const int64_t step = record.utc - device.records[previous].utc;
                if (step > 0) {
                    // Neighbouring lines mostly repeat the step before: no hashing for them.
                    if (step != entry.last_step) {
                        entry.last_count = &entry.steps[step];
                        entry.last_step = step;
                    }
                    ++*entry.last_count;
                }
                if (step < 0) device.jumps.push_back({{index, line.line}, previous, at});
            }
            have_previous = true;
            previous = at;
        }
        if (parsed.unlisted) device.unlisted.push_back({index, parsed.unlisted});
        if (entry.sequence.size() > span.begin)
            entry.spans.push_back({span.file, span.begin, entry.sequence.size()});
    }

    void Finish() {
        for (auto& [product, entry] : devices_) {
            DeviceArchive& device = entry.device;
            // The commonest step; of two as common, the shorter.
            for (const auto& [step, count] : entry.steps) {
                const auto best = entry.steps.find(device.interval);
                if (best == entry.steps.end() || count > best->second ||
                    (count == best->second && step < device.interval))
                    device.interval = step;
            }
            Reorder(entry);
            for (const auto& [file, distinct] : entry.distinct) archive_.files[file].distinct = distinct;
            entry.distinct = {};
            // Twice the step above three intervals: more than one and a half intervals apart. Without an
            // interval (no two neighbouring lines of a file apart) no gap can be told.
            for (size_t i = 1; device.HasInterval() && i < device.records.size(); ++i) {
                const int64_t step = device.records[i].utc - device.records[i - 1].utc;
                if (2 * step <= 3 * device.interval) continue;
                const int64_t missing = (step + device.interval / 2) / device.interval - 1;
                device.gaps.push_back({i - 1, i, std::max<int64_t>(missing, 1)});
            }
            for (size_t i = 1; i < device.records.size(); ++i) {
                if (device.records[i].utc < device.records[device.earliest].utc) device.earliest = i;
                if (device.records[i].utc >= device.records[device.newest].utc) device.newest = i;
            }
            // Room that was reserved and not filled was never touched; only a large part of it is given back.
            if (device.records.capacity() - device.records.size() > device.records.size() / 4 + 4096)
                device.records.shrink_to_fit();
            archive_.devices.push_back(std::move(device));
        }
        devices_.clear();
    }

  private:
    struct Span {
        uint32_t file;
        size_t begin, end;  // its lines' records in Entry::sequence
    };
    struct Entry {
        DeviceArchive device;
        size_t files_left = 0;                      // its files in the archive, counted before the merge
        std::unordered_map<int64_t, size_t> steps;  // seconds between neighbouring lines → how often
        int64_t last_step = 0;                      // the step counted last, and its count
        size_t* last_count = nullptr;
        bool sorted = true;                                // records so far in non-decreasing UTC
        std::unordered_multimap<int64_t, size_t> by_time;  // built only once they are not
        std::unordered_map<std::string, uint32_t> spelling_index, text_index;
        std::vector<uint32_t> sequence;                     // the record of every valid line, file after file
        std::vector<Span> spans;                            // per file that has records
        std::vector<std::pair<uint32_t, size_t>> distinct;  // per such file its own distinct records
    };

    Entry& Device(uint32_t product) {
        if (last_ && last_->device.product == product) return *last_;
        Entry& entry = devices_[product];
        entry.device.product = product;
        last_ = &entry;
        return entry;
    }

    // Room for the records of all the device's files, guessed from its first: growing a vector of millions
    // a step at a time would write each record to fresh memory twice. Too small a guess only grows as
    // before; too large is address space that is never touched, and the guess has a ceiling.
    static void Reserve(Entry& entry, size_t first_lines) {
        constexpr size_t kMostReserved = size_t{1} << 22;
        const size_t guess = std::min(kMostReserved, first_lines * entry.files_left + first_lines / 8);
        entry.device.records.reserve(guess);
        entry.sequence.reserve(guess);
    }

    static uint32_t Intern(std::vector<std::string>& list, std::unordered_map<std::string, uint32_t>& index,
                           std::string_view text) {
        if (!list.empty() && list.back() == text) return static_cast<uint32_t>(list.size() - 1);
        const auto [it, added] = index.try_emplace(std::string(text), static_cast<uint32_t>(list.size()));
        if (added) list.emplace_back(text);
        return it->second;
    }

    // The index of the record, added when it is new. Records come mostly in rising time, and a
    // record newer than all before cannot repeat one, so the search is rarely needed. A new record of a
    // second that already has another is a conflict.
    static size_t Insert(Entry& entry, const ArchiveRecord& record) {
        std::vector<ArchiveRecord>& records = entry.device.records;
        std::optional<size_t> same_second;
        if (!records.empty() && !(entry.sorted && record.utc > records.back().utc)) {
            if (entry.sorted) {
                auto [first, last] = std::equal_range(
                    records.begin(), records.end(), record,
                    [](const ArchiveRecord& a, const ArchiveRecord& b) { return a.utc < b.utc; });
                for (auto it = first; it != last; ++it)
                    if (*it == record) return static_cast<size_t>(it - records.begin());
                if (first != last) same_second = static_cast<size_t>(first - records.begin());
            } else {
                auto [first, last] = entry.by_time.equal_range(record.utc);
                for (auto it = first; it != last; ++it) {
                    if (records[it->second] == record) return it->second;
                    same_second = std::min(same_second.value_or(SIZE_MAX), it->second);
                }
            }
            if (entry.sorted && record.utc < records.back().utc) {
                entry.sorted = false;
                for (size_t i = 0; i < records.size(); ++i) entry.by_time.emplace(records[i].utc, i);
            }
        }
        records.push_back(record);
        if (!entry.sorted) entry.by_time.emplace(record.utc, records.size() - 1);
        if (same_second) entry.device.conflicts.push_back({*same_second, records.size() - 1});
        return records.size() - 1;
    }

    // Puts the device's files in the order their records say, whatever clock named them: a file that
    // begins with the record another ended with (an incremental download repeats its stop record)
    // follows that one; the others go by the time of their first record. The records then take that
    // order, each where it first appears.
    static void Reorder(Entry& entry) {
        DeviceArchive& device = entry.device;
        const std::vector<Span>& spans = entry.spans;
        const std::vector<uint32_t>& seq = entry.sequence;
        const size_t n = spans.size();
        std::vector<size_t> by_time(n);
        for (size_t i = 0; i < n; ++i) by_time[i] = i;
        auto first = [&](size_t i) { return seq[spans[i].begin]; };
        auto last = [&](size_t i) { return seq[spans[i].end - 1]; };
        std::stable_sort(by_time.begin(), by_time.end(), [&](size_t a, size_t b) {
            return device.records[first(a)].utc < device.records[first(b)].utc;
        });
        // Each chain of files is one set; a link inside a set would close a loop.
        std::vector<size_t> set(n), pred(n, SIZE_MAX), succ(n, SIZE_MAX);
        for (size_t i = 0; i < n; ++i) set[i] = i;
        auto find = [&](size_t x) {
            while (set[x] != x) x = set[x] = set[set[x]];
            return x;
        };
        std::unordered_map<uint32_t, std::vector<size_t>> ending;  // record → files that end with it
        for (size_t i : by_time) ending[last(i)].push_back(i);
        for (size_t i : by_time) {
            const auto it = ending.find(first(i));
            if (it == ending.end()) continue;
            for (size_t j : it->second) {
                if (j == i || succ[j] != SIZE_MAX || find(j) == find(i)) continue;
                succ[j] = i;
                pred[i] = j;
                set[find(i)] = find(j);
                break;
            }
        }
        std::vector<size_t> order;
        order.reserve(n);
        for (size_t head : by_time) {
            if (pred[head] != SIZE_MAX) continue;
            for (size_t i = head; i != SIZE_MAX; i = succ[i]) order.push_back(i);
        }

        // Each file's own distinct records: a record its lines repeat is one.
        std::vector<uint32_t> seen(device.records.size(), UINT32_MAX);
        for (size_t i = 0; i < n; ++i) {
            size_t distinct = 0;
            for (size_t k = spans[i].begin; k < spans[i].end; ++k)
                if (seen[seq[k]] != i) {
                    seen[seq[k]] = static_cast<uint32_t>(i);
                    ++distinct;
                }
            entry.distinct.emplace_back(spans[i].file, distinct);
        }

        std::vector<uint32_t> files;
        std::vector<bool> placed;
        for (size_t i : order) {
            files.push_back(spans[i].file);
            if (placed.size() <= spans[i].file) placed.resize(spans[i].file + 1);
            placed[spans[i].file] = true;
        }
        for (uint32_t file : device.files)
            if (file >= placed.size() || !placed[file]) files.push_back(file);
        device.files = std::move(files);
        // In the order the files were merged, every record already stands where it first appears, with
        // that file: nothing moves.
        bool merged_order = true;
        for (size_t k = 0; k < n && merged_order; ++k) merged_order = order[k] == k;
        if (!merged_order) Move(entry, order);
        entry.sequence = {};
        entry.spans = {};
        entry.by_time = {};
    }

    // The records in the files' new order, each where it first appears.
    static void Move(Entry& entry, const std::vector<size_t>& order) {
        DeviceArchive& device = entry.device;
        const std::vector<Span>& spans = entry.spans;
        const std::vector<uint32_t>& seq = entry.sequence;

        std::vector<uint32_t> remap(device.records.size(), UINT32_MAX);
        std::vector<ArchiveRecord> records;
        records.reserve(device.records.size());
        for (size_t i : order) {
            for (size_t k = spans[i].begin; k < spans[i].end; ++k) {
                if (remap[seq[k]] != UINT32_MAX) continue;
                remap[seq[k]] = static_cast<uint32_t>(records.size());
                records.push_back(device.records[seq[k]]);
                records.back().file = spans[i].file;
            }
        }
        device.records = std::move(records);
        for (ClockJump& jump : device.jumps) {
            jump.before = remap[jump.before];
            jump.after = remap[jump.after];
        }
        for (auto& [a, b] : device.conflicts) {
            a = remap[a];
            b = remap[b];
            if (a > b) std::swap(a, b);
        }
        for (NoNumberLine& line : device.no_number) line.record = remap[line.record];
    }

    Archive& archive_;
    std::map<uint32_t, Entry> devices_;  // nodes stay put, so the pointer below stays valid
    Entry* last_ = nullptr;
};

// Empties a slot but keeps its memory: fresh pages for every file would cost more than the reading.
void Reuse(ParsedFile& slot) {
    slot.length = 0;
    slot.lines.clear();
    slot.unlisted = 0;
    slot.problem.clear();
}

// Files are read and checked by one thread per core (the calling one among them), and merged strictly in
// their order: a thread that finds the next files ready merges them unless another is already at it, so
// no thread sits waiting for the others while there is reading to do. The window bounds how many files'
// bytes are held at once.
void ReadFiles(Archive& archive, const ArchiveSource& source) {
    constexpr uint32_t kWindow = 64;
    const auto count = static_cast<uint32_t>(archive.files.size());
    std::vector<ParsedFile> slots(std::min(count, kWindow));
    Merger merger(archive);
    // A mutex and a condition variable rather than atomic waits: the MinGW runtime's atomic wait can miss
    // a notification and hang.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> ready(slots.size(), 0);  // the file index + 1 a slot holds; under mutex
    uint32_t merged = 0;                           // files merged so far; under mutex
    bool merging = false;                          // a thread is merging; under mutex
    std::atomic<uint32_t> next{0};
    auto work = [&] {
        FileParser parser(source);
        for (uint32_t i; (i = next.fetch_add(1)) < count;) {
            {
                // Wait until the merge has let go of the file that had this slot before.
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return i < merged + kWindow; });
            }
            ParsedFile& slot = slots[i % kWindow];
            Reuse(slot);
            parser.Parse(archive.files[i], slot);
            std::unique_lock lock(mutex);
            ready[i % kWindow] = i + 1;
            if (merging) continue;  // the thread merging sees this file before it stops
            merging = true;
            while (merged < count && ready[merged % kWindow] == merged + 1) {
                const uint32_t file = merged;
                lock.unlock();
                merger.Merge(file, slots[file % kWindow]);
                lock.lock();
                merged = file + 1;
                changed.notify_all();
            }
            merging = false;
        }
    };
    const unsigned cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < cores && t < count; ++t) helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers) helper.join();
    merger.Finish();
}

void AppendTwo(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

void AppendRecordTime(std::string& out, const ArchiveRecord& record, char separator) {
    AppendClockText(out, record.utc + int64_t{record.offset} * 60, separator);
    const int offset = record.offset;
    out += offset < 0 || (record.flags & ArchiveRecord::kMinusZero) ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(offset < 0 ? -offset : offset);
    AppendTwo(out, magnitude / 60);
    out += ':';
    AppendTwo(out, magnitude % 60);
}

bool ArchiveRecord::operator==(const ArchiveRecord& other) const {
    return utc == other.utc && value == other.value && offset == other.offset && spelling == other.spelling &&
           flags == other.flags;
}

std::optional<uint32_t> ProductFromFileName(std::string_view name) {
    constexpr std::string_view kSuffix = ".txt";
    std::string_view rest = name;
    if (rest.size() <= kSuffix.size() || rest.substr(rest.size() - kSuffix.size()) != kSuffix) return {};
    rest.remove_suffix(kSuffix.size());
    const size_t hex_dash = rest.rfind('-');
    if (hex_dash == std::string_view::npos) return {};
    const std::string_view hex = rest.substr(hex_dash + 1);
    rest = rest.substr(0, hex_dash);
    const size_t dec_dash = rest.rfind('-');
    if (dec_dash == std::string_view::npos) return {};
    const std::string_view dec = rest.substr(dec_dash + 1);
    // Both numbers are printed without leading zeros, the second in lower case.
    if (dec.empty() || dec.size() > 10 || (dec.size() > 1 && dec[0] == '0')) return {};
    if (hex.empty() || hex.size() > 8 || (hex.size() > 1 && hex[0] == '0')) return {};
    uint64_t value = 0;
    for (char c : dec) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > UINT32_MAX) return {};
    uint64_t hex_value = 0;
    for (char c : hex) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || (c >= 'A' && c <= 'F')) return {};
        hex_value = hex_value * 16 + static_cast<uint64_t>(digit);
    }
    if (hex_value != value) return {};
    return static_cast<uint32_t>(value);
}

const DeviceArchive* Archive::Find(uint32_t product) const {
    for (const DeviceArchive& device : devices)
        if (device.product == product) return &device;
    return nullptr;
}

size_t DeviceArchive::DamagedLines() const {
    size_t count = damaged.size();
    for (const UnlistedDamage& more : unlisted) count += more.lines;
    return count;
}

bool Archive::Complete() const {
    return problems.empty() &&
           std::all_of(devices.begin(), devices.end(), [](const DeviceArchive& d) { return d.Complete(); });
}

Archive ReadArchive(const std::string& folder) { return ReadArchive(folder, {}); }

Archive ReadArchive(const std::string& folder, const std::function<bool(const ArchiveFile&)>& take) {
    return ReadArchive(folder, take, ReadFromDisk);
}

Archive ReadArchive(const std::string& folder, const std::function<bool(const ArchiveFile&)>& take,
                    const ArchiveSource& source) {
    Archive archive;
    archive.folder = folder;
    Lister{archive}.Walk(folder);
    std::stable_sort(archive.files.begin(), archive.files.end(),
                     [](const ArchiveFile& a, const ArchiveFile& b) { return a.name_time < b.name_time; });
    if (take) std::erase_if(archive.files, [&](const ArchiveFile& file) { return !take(file); });
    ReadFiles(archive, source);
    return archive;
}

Archive ReadArchive(std::string folder, std::vector<ArchiveFile> files, const ArchiveSource& source) {
    Archive archive;
    archive.folder = std::move(folder);
    archive.files = std::move(files);
    std::stable_sort(archive.files.begin(), archive.files.end(),
                     [](const ArchiveFile& a, const ArchiveFile& b) { return a.name_time < b.name_time; });
    ReadFiles(archive, source);
    return archive;
}

std::string ProductSpelling(const DeviceArchive& device) {
    if (!device.spellings.empty()) return device.spellings.front();
    char text[16];
    std::snprintf(text, sizeof text, "%04u", static_cast<unsigned>(device.product));
    return text;
}

std::string RecordTimestamp(const ArchiveRecord& record) {
    std::string out;
    AppendRecordTime(out, record, ' ');
    return out;
}

std::string RecordIsoTime(const ArchiveRecord& record) {
    std::string out;
    AppendRecordTime(out, record, 'T');
    return out;
}

std::string_view RecordValue(const DeviceArchive& device, const ArchiveRecord& record, std::string& scratch) {
    if (record.flags & ArchiveRecord::kTextValue) return device.texts[static_cast<size_t>(record.value)];
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, record.value);
    scratch.assign(digits, result.ptr);
    return scratch;
}

std::optional<double> RecordNumber(const DeviceArchive& device, const ArchiveRecord& record) {
    if (!(record.flags & ArchiveRecord::kTextValue)) return record.value;
    const std::string& text = device.texts[static_cast<size_t>(record.value)];
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return {};
    return number;
}

bool RecordHasNumber(const DeviceArchive& device, const ArchiveRecord& record) {
    return !(record.flags & ArchiveRecord::kTextValue) ||
           ValueIsNumber(device.texts[static_cast<size_t>(record.value)]);
}

std::optional<TimeBound> ParseTimeBound(std::string_view text, bool end_of_day) {
    std::string clock(text.substr(0, std::min<size_t>(text.size(), 10)));
    std::string_view zone;
    if (text.size() == 10) {
        clock += end_of_day ? " 23:59:59" : " 00:00:00";
    } else {
        if (text.size() < 16 || (text[10] != ' ' && text[10] != 'T')) return {};
        const bool seconds = text.size() >= kKeyLength && text[16] == ':';
        clock += ' ';
        clock += text.substr(11, seconds ? 8 : 5);
        if (!seconds) clock += end_of_day ? ":59" : ":00";
        zone = text.substr(seconds ? kKeyLength : 16);
    }
    const std::optional<int64_t> seconds = ParseClockTime(clock, ' ');
    if (!seconds) return {};
    if (zone.empty()) return TimeBound{*seconds, false};
    if (zone == "Z") return TimeBound{*seconds, true};
    const std::optional<int> offset = ParseOffset(zone);
    if (!offset) return {};
    return TimeBound{*seconds - int64_t{*offset} * 60, true};
}

std::vector<size_t> ChronologicalRecords(const DeviceArchive& device, std::optional<TimeBound> from,
                                         std::optional<TimeBound> to) {
    auto seconds = [](const ArchiveRecord& r, const TimeBound& bound) {
        return bound.has_offset ? r.utc : r.utc + int64_t{r.offset} * 60;
    };
    std::vector<size_t> order;
    order.reserve(device.records.size());
    for (size_t i = 0; i < device.records.size(); ++i) {
        const ArchiveRecord& r = device.records[i];
        if (from && seconds(r, *from) < from->seconds) continue;
        if (to && seconds(r, *to) > to->seconds) continue;
        order.push_back(i);
    }
    if (!std::is_sorted(order.begin(), order.end(),
                        [&](size_t a, size_t b) { return device.records[a].utc < device.records[b].utc; })) {
        std::stable_sort(order.begin(), order.end(),
                         [&](size_t a, size_t b) { return device.records[a].utc < device.records[b].utc; });
    }
    return order;
}

std::optional<PendingRecords> EstimatePending(int64_t newest_saved, int64_t now, int64_t count,
                                              int64_t interval) {
    // A device clock behind the newest saved record was set back since: nothing can be told from it.
    if (now < newest_saved || interval <= 0 || count < 0) return {};
    const int64_t taken = (now - newest_saved) / interval;
    const int64_t pending = std::min<int64_t>(taken, count);
    // Only a full ring overwrites: before that, the device still holds every record it took.
    PendingRecords result{pending, count >= kRingRecords ? taken - pending : 0, 0};
    result.seconds_left = (kRingRecords + 1 - pending) * interval;
    if (pending > 0) result.days = static_cast<double>(result.seconds_left) / 86400.0;
    return result;
}

}  // namespace korvel
