// SPDX-License-Identifier: MIT
#include "records/archive.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "nlohmann/json.hpp"
#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/utf8.h"

namespace korvel {
namespace {

constexpr size_t kKeyLength = kTimestampKeyLength;
constexpr size_t kOffsetLength = 6;  // "+08:00"
// No record line comes near this; longer lines are damage and are not checksummed byte by byte.
constexpr size_t kLongestLine = 4096;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

struct Civil {
    int64_t year;
    unsigned month, day, hour, minute, second;
};

Civil CivilFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2),
            m,
            d,
            static_cast<unsigned>(rest / 3600),
            static_cast<unsigned>(rest / 60 % 60),
            static_cast<unsigned>(rest % 60)};
}

bool IsLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

unsigned DaysInMonth(int64_t y, unsigned m) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Digits at text[at, at + count), or -1.
int Digits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "YYYY-MM-DD hh:mm:ss" (with `separator` between date and time) as seconds of that clock time.
std::optional<int64_t> ParseClockTime(std::string_view text, char separator) {
    if (text.size() < kKeyLength || text[4] != '-' || text[7] != '-' || text[10] != separator ||
        text[13] != ':' || text[16] != ':')
        return {};
    const int y = Digits(text, 0, 4), mo = Digits(text, 5, 2), d = Digits(text, 8, 2);
    const int h = Digits(text, 11, 2), mi = Digits(text, 14, 2), s = Digits(text, 17, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return {};
    if (static_cast<unsigned>(d) > DaysInMonth(y, static_cast<unsigned>(mo))) return {};
    return DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
           mi * 60 + s;
}

// "+hh:mm" / "-hh:mm" as minutes east of UTC.
std::optional<int> ParseOffset(std::string_view text, bool* minus_zero = nullptr) {
    if (text.size() != kOffsetLength || (text[0] != '+' && text[0] != '-') || text[3] != ':') return {};
    const int h = Digits(text, 1, 2), m = Digits(text, 4, 2);
    if (h < 0 || m < 0 || m > 59) return {};
    const int minutes = h * 60 + m;
    if (minus_zero) *minus_zero = text[0] == '-' && minutes == 0;
    return text[0] == '-' ? -minutes : minutes;
}

// A whole number written the way a number prints (no leading zeros, no plus sign) that fits 32 bits:
// only then can the text be written again from the number.
std::optional<int32_t> CanonicalInt(std::string_view text) {
    if (text.empty() || text.size() > 11) return {};
    const bool negative = text[0] == '-';
    const std::string_view digits = text.substr(negative ? 1 : 0);
    if (digits.empty() || (digits[0] == '0' && (digits.size() > 1 || negative))) return {};
    int32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return {};
    return value;
}

// Folder entries sorted by name, so a run reads a folder the same way every time.
struct Lister {
    Archive& archive;

    void Walk(const std::string& folder, const std::string& relative) {
        std::vector<DirectoryEntry> entries;
        Failure error;
        if (!ListDirectory(folder, entries, &error)) {
            archive.problems.push_back(ShownText(error.message));
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
        for (const DirectoryEntry& entry : entries) {
            const std::string path = folder + "/" + entry.name;
            const std::string rel = relative.empty() ? entry.name : relative + "/" + entry.name;
            if (entry.type == EntryType::kDirectory) {
                Walk(path, rel);
                continue;
            }
            // Links to folders are not followed, so a link back into the tree cannot make the walk
            // endless; pipes and devices are no record files.
            if (entry.type == EntryType::kOther || (entry.type == EntryType::kSymlink && IsDirectory(path)))
                continue;
            if (!ProductFromFileName(entry.name)) continue;
            archive.files.push_back({path, ShownText(rel), NameTime(entry.name)});
        }
    }

    // "%u%02u%02u-%02u%02u%02u-..." with the year less 2000 unpadded, as yyyymmddhhmmss.
    static int64_t NameTime(std::string_view name) {
        const size_t dash = name.find('-');
        if (dash == std::string_view::npos || dash < 5 || dash > 9 || name.size() < dash + 8 ||
            name[dash + 7] != '-')
            return -1;
        int64_t date = 0;
        for (size_t i = 0; i < dash; ++i) {
            if (name[i] < '0' || name[i] > '9') return -1;
            date = date * 10 + (name[i] - '0');
        }
        const int time = Digits(name, dash + 1, 6);
        if (time < 0) return -1;
        const int64_t year = 2000 + date / 10000;
        return (year * 10000 + date % 10000) * 1000000 + time;
    }
};

// One line as read from its file, before it meets the other files: either a record or damage.
struct ParsedLine {
    int64_t utc;
    int32_t value;      // the whole number, when the value is one
    int32_t product;    // the product field's number
    uint32_t line;      // counted from 1
    uint32_t value_at;  // the value's and the product field's text in the file's bytes
    uint32_t product_at;
    uint16_t value_length;
    uint16_t product_length;
    int16_t offset;
    uint8_t flags;
    int8_t damage;  // -1 for a record, else an index into kDamage
};

constexpr const char* kDamage[] = {
    "empty line",
    "far too long for a record line",
    "the line ends in CR; record lines end in LF alone",
    "no checksum at the end of the line",
    "the checksum is not four hexadecimal digits",
    "checksum mismatch",
    "not a record line of the form YYYY-MM-DD hh:mm:ss+hh:mm VALUE PRODUCT",
    "more fields than date, time, value and product",
};

struct ParsedFile {
    std::string bytes;
    std::vector<ParsedLine> lines;
    std::string problem;  // when the file could not be read
};

// Reads and checks the lines of one file. Runs on several threads at once: it touches nothing shared.
class FileParser {
  public:
    void Parse(const ArchiveFile& file, ParsedFile& out) {
        CFile in;
        Failure error;
        if (!in.Open(file.path, CFile::modeRead, &error)) {
            out.problem = ShownText(error.message);
            return;
        }
        const int64_t length = in.GetLength();
        // Shrinking keeps the memory of a larger file before; a huge file's is given back.
        if (out.bytes.capacity() > (64u << 20)) out.bytes = std::string();
        out.bytes.resize(static_cast<size_t>(std::max<int64_t>(length, 0)));
        const int64_t got = out.bytes.empty() ? 0 : in.Read(out.bytes.data(), out.bytes.size());
        if (got < 0 || got != length) {
            out.problem = got < 0
                              ? ShownText(in.LastError().message)
                              : file.relative + ": the file changed while it was read; run the command again";
            return;
        }
        out.lines.reserve(out.bytes.size() / 40 + 1);
        const std::string_view bytes = out.bytes;
        uint32_t number = 0;
        for (size_t position = 0; position < bytes.size();) {
            const void* newline = std::memchr(bytes.data() + position, '\n', bytes.size() - position);
            const size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - bytes.data())
                                       : bytes.size();
            out.lines.push_back(ParseLine(bytes, position, end - position, ++number));
            position = end + 1;
        }
    }

  private:
    ParsedLine ParseLine(std::string_view bytes, size_t at, size_t length, uint32_t number) {
        ParsedLine parsed{};
        parsed.line = number;
        parsed.damage = -1;
        auto damaged = [&](int8_t reason) {
            parsed.damage = reason;
            return parsed;
        };
        const std::string_view line = bytes.substr(at, length);
        if (line.empty()) return damaged(0);
        if (line.size() > kLongestLine) return damaged(1);
        if (line.back() == '\r') return damaged(2);
        if (line.size() <= 5 || line[line.size() - 5] != ' ') return damaged(3);
        unsigned expected = 0;
        for (size_t i = line.size() - 4; i < line.size(); ++i) {
            const int digit = HexDigitValue(line[i]);
            if (digit < 0) return damaged(4);
            expected = expected * 16 + static_cast<unsigned>(digit);
        }
        const std::string_view body = line.substr(0, line.size() - 5);
        if (Crc16(body) != expected) return damaged(5);

        // date, time with its offset, value, product: "2022-07-30 10:15:42+08:00 125 0123"
        constexpr size_t kValueAt = kKeyLength + kOffsetLength + 1;
        const size_t last_space = body.rfind(' ');
        if (body.size() <= kValueAt || body[kValueAt - 1] != ' ' || last_space <= kValueAt) return damaged(6);
        const std::optional<int64_t> clock = ClockTime(body);
        if (!clock || !Offset(body.data() + kKeyLength)) return damaged(6);
        const std::string_view value = body.substr(kValueAt, last_space - kValueAt);
        const std::string_view product = body.substr(last_space + 1);
        if (value.find(' ') != std::string_view::npos) return damaged(7);

        if (product != product_text_) {
            product_text_.assign(product);
            product_value_ = ToInt(Utf8ToWide(product));
        }
        parsed.utc = *clock - int64_t{offset_} * 60;
        parsed.offset = static_cast<int16_t>(offset_);
        parsed.flags = minus_zero_ ? ArchiveRecord::kMinusZero : 0;
        parsed.product = product_value_;
        parsed.value_at = static_cast<uint32_t>(at + kValueAt);
        parsed.value_length = static_cast<uint16_t>(value.size());
        parsed.product_at = static_cast<uint32_t>(at + last_space + 1);
        parsed.product_length = static_cast<uint16_t>(product.size());
        if (const std::optional<int32_t> whole = CanonicalInt(value)) {
            parsed.value = *whole;
        } else {
            parsed.flags |= ArchiveRecord::kTextValue;
        }
        return parsed;
    }

    // Neighbouring lines share their date and offset, so both are only worked out when they change.
    std::optional<int64_t> ClockTime(std::string_view body) {
        if (!have_date_ || std::memcmp(body.data(), date_, sizeof date_) != 0) {
            const std::optional<int64_t> midnight =
                ParseClockTime(std::string(body.data(), sizeof date_) + " 00:00:00", ' ');
            if (!midnight) return {};
            std::memcpy(date_, body.data(), sizeof date_);
            have_date_ = true;
            midnight_ = *midnight;
        }
        if (body[10] != ' ' || body[13] != ':' || body[16] != ':') return {};
        const int h = Digits(body, 11, 2), m = Digits(body, 14, 2), s = Digits(body, 17, 2);
        if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59) return {};
        return midnight_ + h * 3600 + m * 60 + s;
    }

    bool Offset(const char* text) {
        if (have_offset_ && std::memcmp(text, offset_text_, kOffsetLength) == 0) return true;
        const std::optional<int> offset = ParseOffset(std::string_view(text, kOffsetLength), &minus_zero_);
        if (!offset) return false;
        std::memcpy(offset_text_, text, kOffsetLength);
        have_offset_ = true;
        offset_ = *offset;
        return true;
    }

    std::string product_text_ = "\n";  // no field is this, so the first line works it out
    int32_t product_value_ = 0;
    char date_[10] = {};
    bool have_date_ = false;
    int64_t midnight_ = 0;
    char offset_text_[kOffsetLength] = {};
    bool have_offset_ = false;
    int offset_ = 0;
    bool minus_zero_ = false;
};

// Puts the files' lines together in download order: one device each, records once, steps and set-backs.
class Merger {
  public:
    explicit Merger(Archive& archive) : archive_(archive) {}

    void Merge(uint32_t index, const ParsedFile& parsed) {
        file_ = index;
        previous_.clear();
        Entry& named = Device(NamedProduct(archive_.files[index]));
        AddFile(named.device, index);
        if (!parsed.problem.empty()) archive_.problems.push_back(parsed.problem);
        const std::string_view bytes = parsed.bytes;
        for (const ParsedLine& line : parsed.lines) {
            if (line.damage >= 0) {
                named.device.damaged.push_back({{index, line.line}, kDamage[line.damage]});
                continue;
            }
            Entry& entry = Device(line.product);
            DeviceArchive& device = entry.device;
            AddFile(device, index);
            ++device.valid_lines;
            ArchiveRecord record{};
            record.utc = line.utc;
            record.offset = line.offset;
            record.file = index;
            record.flags = line.flags;
            record.value = line.value;
            record.spelling = Spelling(device, bytes.substr(line.product_at, line.product_length));
            if (line.flags & ArchiveRecord::kTextValue)
                record.value =
                    static_cast<int32_t>(Text(device, bytes.substr(line.value_at, line.value_length)));
            const size_t at = Insert(entry, record);
            Neighbours(entry, at, record.utc, line.line);
        }
    }

    void Finish() {
        for (auto& [product, entry] : devices_) {
            DeviceArchive& device = entry.device;
            if (!entry.steps.empty()) {
                device.interval =
                    std::max_element(entry.steps.begin(), entry.steps.end(), [](auto& a, auto& b) {
                        return a.second < b.second;
                    })->first;
            }
            // Twice the step above three intervals: more than one and a half intervals apart.
            for (size_t i = 1; i < device.records.size(); ++i) {
                const int64_t step = device.records[i].utc - device.records[i - 1].utc;
                if (2 * step <= 3 * device.interval) continue;
                const int64_t missing = (step + device.interval / 2) / device.interval - 1;
                device.gaps.push_back({i - 1, i, std::max<int64_t>(missing, 1)});
            }
            if (device.files.empty() && device.valid_lines == 0) continue;
            device.records.shrink_to_fit();
            archive_.devices.push_back(std::move(device));
        }
    }

  private:
    struct Entry {
        DeviceArchive device;
        std::vector<std::pair<int64_t, size_t>> steps;     // seconds between neighbouring lines → how often
        bool sorted = true;                                // records so far in non-decreasing UTC
        std::unordered_multimap<int64_t, size_t> by_time;  // built only once they are not
    };
    struct Previous {
        Entry* entry;
        size_t record;
        int64_t utc;
    };

    static int32_t NamedProduct(const ArchiveFile& file) {
        const std::string_view path = file.path;
        return static_cast<int32_t>(*ProductFromFileName(path.substr(path.rfind('/') + 1)));
    }

    Entry& Device(int32_t product) {
        if (last_ && last_->device.product == product) return *last_;
        Entry& entry = devices_[product];
        entry.device.product = product;
        last_ = &entry;
        return entry;
    }

    static void AddFile(DeviceArchive& device, uint32_t file) {
        if (device.files.empty() || device.files.back() != file) device.files.push_back(file);
    }

    // Neighbouring lines of one device in one file: the usual step, and clock set-backs.
    void Neighbours(Entry& entry, size_t record, int64_t utc, uint32_t line) {
        auto previous = std::find_if(previous_.begin(), previous_.end(),
                                     [&](const Previous& p) { return p.entry == &entry; });
        if (previous == previous_.end()) {
            previous_.push_back({&entry, record, utc});
            return;
        }
        const int64_t step = utc - previous->utc;
        if (step > 0) {
            auto& steps = entry.steps;
            auto it =
                !steps.empty() && steps.back().first == step
                    ? steps.end() - 1
                    : std::find_if(steps.begin(), steps.end(), [&](auto& s) { return s.first == step; });
            if (it == steps.end()) {
                steps.emplace_back(step, 1);
            } else {
                ++it->second;
                // The commonest step stays last, where the next line looks first.
                if (it != steps.end() - 1 && it->second > steps.back().second)
                    std::iter_swap(it, steps.end() - 1);
            }
        }
        if (step < 0) entry.device.jumps.push_back({{file_, line}, previous->record, record});
        *previous = {&entry, record, utc};
    }

    static uint16_t Spelling(DeviceArchive& device, std::string_view text) {
        if (!device.spellings.empty() && device.spellings.back() == text)
            return static_cast<uint16_t>(device.spellings.size() - 1);
        for (size_t i = 0; i < device.spellings.size(); ++i)
            if (device.spellings[i] == text) return static_cast<uint16_t>(i);
        device.spellings.emplace_back(text);
        return static_cast<uint16_t>(device.spellings.size() - 1);
    }

    static uint32_t Text(DeviceArchive& device, std::string_view text) {
        for (size_t i = device.texts.size(); i-- > 0;)
            if (device.texts[i] == text) return static_cast<uint32_t>(i);
        device.texts.emplace_back(text);
        return static_cast<uint32_t>(device.texts.size() - 1);
    }

    // The index of the record, added when it is new. Records come mostly in rising time, and a
    // record newer than all before cannot repeat one, so the search is rarely needed.
    static size_t Insert(Entry& entry, const ArchiveRecord& record) {
        std::vector<ArchiveRecord>& records = entry.device.records;
        if (!records.empty() && !(entry.sorted && record.utc > records.back().utc)) {
            if (entry.sorted) {
                auto [first, last] = std::equal_range(
                    records.begin(), records.end(), record,
                    [](const ArchiveRecord& a, const ArchiveRecord& b) { return a.utc < b.utc; });
                for (auto it = first; it != last; ++it)
                    if (*it == record) return static_cast<size_t>(it - records.begin());
            } else {
                auto [first, last] = entry.by_time.equal_range(record.utc);
                for (auto it = first; it != last; ++it)
                    if (records[it->second] == record) return it->second;
            }
            if (entry.sorted && record.utc < records.back().utc) {
                entry.sorted = false;
                for (size_t i = 0; i < records.size(); ++i) entry.by_time.emplace(records[i].utc, i);
            }
        }
        records.push_back(record);
        if (!entry.sorted) entry.by_time.emplace(record.utc, records.size() - 1);
        return records.size() - 1;
    }

    Archive& archive_;
    std::map<int32_t, Entry> devices_;  // nodes stay put, so the pointers below stay valid
    uint32_t file_ = 0;
    Entry* last_ = nullptr;
    std::vector<Previous> previous_;  // per device, its last line in this file
};

// Empties a slot but keeps its memory: fresh pages for every file would cost more than the reading.
void Reuse(ParsedFile& slot) {
    slot.bytes.clear();
    slot.lines.clear();
    slot.problem.clear();
}

// Files are read and checked by a few threads ahead of the merge, which takes them strictly in order.
// The window bounds how many files' bytes are held at once.
void ReadFiles(Archive& archive) {
    constexpr uint32_t kWindow = 64;
    const auto count = static_cast<uint32_t>(archive.files.size());
    std::vector<ParsedFile> slots(std::min(count, kWindow));
    // A mutex and a condition variable rather than atomic waits: the MinGW runtime's atomic wait can miss
    // a notification and hang.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<uint32_t> ready(slots.size(), 0);  // the file index + 1 a slot holds; under mutex
    uint32_t merged = 0;                           // files the merge is done with; under mutex
    std::atomic<uint32_t> next{0};
    auto work = [&] {
        FileParser parser;
        for (uint32_t i; (i = next.fetch_add(1)) < count;) {
            {
                // Wait until the merge has let go of the file that had this slot before.
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return i < merged + kWindow; });
            }
            ParsedFile& slot = slots[i % kWindow];
            Reuse(slot);
            parser.Parse(archive.files[i], slot);
            {
                std::lock_guard lock(mutex);
                ready[i % kWindow] = i + 1;
            }
            changed.notify_all();
        }
    };
    const unsigned threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> workers;
    for (unsigned t = 1; t < threads && t < count; ++t) workers.emplace_back(work);

    Merger merger(archive);
    FileParser own;
    for (uint32_t i = 0; i < count; ++i) {
        if (workers.empty()) {
            // Alone: read each file as its turn comes.
            Reuse(slots[0]);
            own.Parse(archive.files[i], slots[0]);
            merger.Merge(i, slots[0]);
            continue;
        }
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return ready[i % kWindow] == i + 1; });
        }
        merger.Merge(i, slots[i % kWindow]);
        {
            std::lock_guard lock(mutex);
            merged = i + 1;
        }
        changed.notify_all();
    }
    for (std::thread& worker : workers) worker.join();
    merger.Finish();
}

void AppendTwo(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

void AppendTime(std::string& out, const ArchiveRecord& record, char separator) {
    const Civil c = CivilFromSeconds(record.utc + int64_t{record.offset} * 60);
    char year[24];
    std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(c.year));
    out += year;
    out += '-';
    AppendTwo(out, c.month);
    out += '-';
    AppendTwo(out, c.day);
    out += separator;
    AppendTwo(out, c.hour);
    out += ':';
    AppendTwo(out, c.minute);
    out += ':';
    AppendTwo(out, c.second);
    const int offset = record.offset;
    out += offset < 0 || (record.flags & ArchiveRecord::kMinusZero) ? '-' : '+';
    const unsigned magnitude = static_cast<unsigned>(offset < 0 ? -offset : offset);
    AppendTwo(out, magnitude / 60);
    out += ':';
    AppendTwo(out, magnitude % 60);
}

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

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

const DeviceArchive* Archive::Find(int32_t product) const {
    for (const DeviceArchive& device : devices)
        if (device.product == product) return &device;
    return nullptr;
}

bool Archive::Complete() const {
    return problems.empty() &&
           std::all_of(devices.begin(), devices.end(), [](const DeviceArchive& d) { return d.Complete(); });
}

Archive ReadArchive(const std::string& folder) { return ReadArchive(folder, {}); }

Archive ReadArchive(const std::string& folder, const std::function<bool(const ArchiveFile&)>& take) {
    Archive archive;
    archive.folder = folder;
    Lister{archive}.Walk(folder, "");
    std::stable_sort(archive.files.begin(), archive.files.end(),
                     [](const ArchiveFile& a, const ArchiveFile& b) { return a.name_time < b.name_time; });
    if (take) std::erase_if(archive.files, [&](const ArchiveFile& file) { return !take(file); });
    ReadFiles(archive);
    return archive;
}

std::string RecordTimestamp(const ArchiveRecord& record) {
    std::string out;
    AppendTime(out, record, ' ');
    return out;
}

std::string RecordIsoTime(const ArchiveRecord& record) {
    std::string out;
    AppendTime(out, record, 'T');
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

void WriteRecordsCsv(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                     std::ostream& out) {
    std::vector<std::string> files(archive.files.size());  // quoted once, on first use
    std::vector<std::string> spellings;
    for (const std::string& spelling : device.spellings) {
        spellings.emplace_back();
        AppendCsvField(spellings.back(), ShownText(spelling));
    }
    std::string chunk = "time,value,product,file\r\n";
    std::string scratch;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        AppendTime(chunk, record, 'T');
        chunk += ',';
        AppendCsvField(chunk, record.flags & ArchiveRecord::kTextValue
                                  ? ShownText(RecordValue(device, record, scratch))
                                  : RecordValue(device, record, scratch));
        chunk += ',';
        chunk += spellings[record.spelling];
        chunk += ',';
        std::string& file = files[record.file];
        if (file.empty()) AppendCsvField(file, archive.files[record.file].relative);
        chunk += file;
        chunk += "\r\n";
        if (chunk.size() >= 1 << 16) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

void WriteRecordsJson(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                      std::ostream& out) {
    std::string scratch;
    out << '[';
    bool first = true;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        nlohmann::ordered_json object;
        object["time"] = RecordIsoTime(record);
        if (!(record.flags & ArchiveRecord::kTextValue)) {
            object["value"] = record.value;
        } else if (const std::optional<double> number = RecordNumber(device, record)) {
            object["value"] = *number;
        } else {
            object["value"] = ShownText(RecordValue(device, record, scratch));
        }
        object["product"] = ShownText(device.spellings[record.spelling]);
        object["file"] = archive.files[record.file].relative;
        out << (first ? "\n" : ",\n") << object.dump();
        first = false;
    }
    out << (first ? "]\n" : "\n]\n");
}

std::optional<PendingRecords> EstimatePending(std::string_view newest_saved, std::string_view device_time,
                                              int count, int64_t interval) {
    constexpr int64_t kRingRecords = 32767;
    const std::optional<int64_t> saved = ParseClockTime(newest_saved, ' ');
    const std::optional<int64_t> now = ParseClockTime(device_time, ' ');
    // A device clock behind the newest saved record was set back since: nothing can be told from it.
    if (!saved || !now || *now < *saved || interval <= 0 || count < 0) return {};
    const int64_t taken = (*now - *saved) / interval;
    const int64_t pending = std::min<int64_t>(taken, count);
    PendingRecords result{pending, taken - pending, 0};
    if (pending > 0) result.days = static_cast<double>((kRingRecords + 1 - pending) * interval) / 86400.0;
    return result;
}

std::string ShownText(std::string_view bytes) {
    const bool plain = std::all_of(bytes.begin(), bytes.end(), [](char c) {
        return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
    if (plain) return std::string(bytes);
    // The conversion stops at a NUL; a NUL in a name or line is shown as U+FFFD too.
    std::string shown;
    size_t start = 0;
    for (size_t nul; (nul = bytes.find('\0', start)) != std::string_view::npos; start = nul + 1) {
        shown += WideToUtf8(Utf8ToWide(bytes.substr(start, nul - start)));
        shown += "\xEF\xBF\xBD";
    }
    shown += WideToUtf8(Utf8ToWide(bytes.substr(start)));
    return shown;
}

}  // namespace korvel
