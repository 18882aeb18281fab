// SPDX-License-Identifier: MIT
#include "ledger/ledger.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <random>
#include <vector>

#include "ledger/ledger_lock.h"
#include "platform/host_name.h"
#include "platform/sha256.h"
#include "records/record_line.h"
#include "text/civil_time.h"
#include "text/file_system.h"
#include "text/shown.h"

namespace korvel {
namespace {

constexpr std::string_view kHeaderWord = "korvel ledger 1\t";
constexpr size_t kFields = 14;
// Enough of the ledger's end to hold its last entry: an entry is about 400 bytes, its longest text
// fields (host, file) a few hundred more.
constexpr size_t kTail = 64 * 1024;

bool IsHex(std::string_view text, size_t length) {
    return text.size() == length && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// A number as the ledger writes it: decimal digits, no sign, no leading zero.
bool ParseNumber(std::string_view text, uint64_t& value) {
    if (text.empty() || (text.size() > 1 && text[0] == '0')) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The PC's local time with its offset from UTC then, daylight saving included, to the minute.
std::string PcClockText(const LocalTime& local, int64_t now) {
    const int64_t local_seconds = DaysFromCivil(local.year, local.month, local.day) * 86400 +
                                  local.hour * 3600 + local.minute * 60 + local.second;
    const int64_t minutes = (local_seconds - now + (local_seconds >= now ? 30 : -30)) / 60;
    const int64_t magnitude = minutes < 0 ? -minutes : minutes;
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02d:%02d", minutes < 0 ? '-' : '+',
                  static_cast<int>(magnitude / 60 % 100), static_cast<int>(magnitude % 60));
    return ClockText(local_seconds) + offset;
}

std::string NewLedgerId() {
    std::random_device random;
    std::array<unsigned char, 16> bytes;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return HexOf(bytes.data(), bytes.size());
}

Failure LedgerFailure(const std::string& path, const std::string& what, const Failure& cause = {}) {
    Failure failure = cause;
    if (!failure) failure.kind = FailureKind::Other;
    failure.message = "the ledger " + path + " " + what + (cause.reason.empty() ? "" : ": " + cause.reason);
    if (failure.reason.empty()) failure.reason = what;
    return failure;
}

// The timestamp that begins a record line: the text before its second space.
std::string_view LineKey(std::string_view line) {
    const size_t first = line.find(' ');
    const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
    return line.substr(0, second);
}

}  // namespace

std::string LedgerField(std::string_view raw) {
    if (raw.find('\\') == std::string_view::npos) return Shown(raw);
    std::string escaped;
    for (char c : raw) {
        if (c == '\\') {
            escaped += "\\x5c";
        } else {
            escaped += c;
        }
    }
    return Shown(escaped);
}

std::string_view LedgerKindWord(LedgerEntryKind kind) {
    return kind == LedgerEntryKind::Adopted ? "adopted" : "downloaded";
}

std::string RecordFilePath(const std::string& upload_folder, const std::string& file) {
    const std::string_view separators = PathSeparators();
    std::string native = file;
    std::replace(native.begin(), native.end(), '/', separators[0]);
    if (upload_folder.empty()) return native;
    if (separators.find(upload_folder.back()) != std::string_view::npos) return upload_folder + native;
    return upload_folder + separators[0] + native;
}

std::string LedgerPath(const std::string& upload_folder) {
    return RecordFilePath(upload_folder, kLedgerFileName);
}

std::string LedgerEntryText(const LedgerEntry& e) {
    std::string text;
    text.reserve(400);
    const auto add = [&](std::string_view field) {
        text += field;
        text += '\t';
    };
    add(std::to_string(e.sequence));
    add(LedgerKindWord(e.kind));
    add(e.utc_time);
    add(e.pc_clock);
    add(e.host);
    add(std::to_string(e.product));
    add(e.file);
    add(std::to_string(e.size));
    add(e.sha256);
    add(e.first_key);
    add(e.last_key);
    add(std::to_string(e.records));
    text += e.previous;
    return text;
}

std::string LedgerEntryHash(const LedgerEntry& entry) { return Sha256Hex(LedgerEntryText(entry)); }

bool ParseLedgerLine(std::string_view line, LedgerEntry& e, std::string& why) {
    std::array<std::string_view, kFields> f;
    size_t count = 0;
    for (size_t start = 0;;) {
        const size_t tab = line.find('\t', start);
        if (count < kFields) f[count] = line.substr(start, tab == std::string_view::npos ? tab : tab - start);
        ++count;
        if (tab == std::string_view::npos) break;
        start = tab + 1;
    }
    if (count != kFields) {
        why = std::to_string(count) + " fields where an entry has " + std::to_string(kFields);
        return false;
    }
    e = {};
    if (!ParseNumber(f[0], e.sequence)) return why = "the sequence is no number", false;
    if (f[1] == "downloaded") {
        e.kind = LedgerEntryKind::Downloaded;
    } else if (f[1] == "adopted") {
        e.kind = LedgerEntryKind::Adopted;
    } else {
        return why = "the kind is neither downloaded nor adopted", false;
    }
    e.utc_time = f[2];
    e.pc_clock = f[3];
    e.host = f[4];
    if (!ParseNumber(f[5], e.product)) return why = "the product number is no number", false;
    e.file = f[6];
    if (e.file.empty()) return why = "the file has no name", false;
    if (!ParseNumber(f[7], e.size)) return why = "the size is no number", false;
    if (!IsHex(f[8], 64)) return why = "the file's SHA-256 is not 64 hex digits", false;
    e.sha256 = f[8];
    e.first_key = f[9];
    e.last_key = f[10];
    if (!ParseNumber(f[11], e.records)) return why = "the record count is no number", false;
    if (!IsHex(f[12], 64)) return why = "the previous entry's hash is not 64 hex digits", false;
    e.previous = f[12];
    if (!IsHex(f[13], 64)) return why = "the entry's hash is not 64 hex digits", false;
    e.hash = f[13];
    return true;
}

Failure ReadLedger(const std::string& upload_folder, Ledger& ledger) {
    ledger = {};
    const std::string path = LedgerPath(upload_folder);
    CFile file;
    Failure error;
    if (!file.Open(path, CFile::modeRead, &error)) {
        if (error.kind == FailureKind::Absent && !FileExists(path)) return {};
        return LedgerFailure(path, "cannot be read", error);
    }
    std::string bytes;
    const int64_t length = file.GetLength();
    if (length > 0) bytes.reserve(static_cast<size_t>(length));
    std::vector<char> buffer(1 << 16);
    for (;;) {
        const int64_t n = file.Read(buffer.data(), buffer.size(), &error);
        if (n < 0) return LedgerFailure(path, "cannot be read", error);
        if (n == 0) break;
        bytes.append(buffer.data(), static_cast<size_t>(n));
    }
    if (bytes.empty()) return {};  // made, and its first line not yet written
    const size_t header_end = bytes.find('\n');
    const std::string_view header = std::string_view(bytes).substr(0, header_end);
    if (header.substr(0, kHeaderWord.size()) != kHeaderWord || !IsHex(header.substr(kHeaderWord.size()), 32))
        return LedgerFailure(path,
                             "is no korvel ledger (its first line is not \"korvel ledger 1\" and an id)");
    ledger.id = header.substr(kHeaderWord.size());
    size_t line_no = 1;
    for (size_t start = header_end == std::string::npos ? bytes.size() : header_end + 1;
         start < bytes.size();) {
        ++line_no;
        const size_t end = bytes.find('\n', start);
        const std::string_view line =
            std::string_view(bytes).substr(start, end == std::string::npos ? end : end - start);
        LedgerEntry entry;
        std::string why;
        if (end == std::string::npos) {
            why = "the last line ends without its line end (an append cut short)";
        } else if (!ParseLedgerLine(line, entry, why)) {
            why = "not an entry: " + why;
        }
        if (!why.empty()) {
            ledger.unreadable_line = line_no;
            ledger.unreadable_reason = why;
            break;
        }
        ledger.entries.push_back(std::move(entry));
        start = end + 1;
    }
    return {};
}

Failure ReadRecordFileFacts(const std::string& path, uint64_t product, RecordFileFacts& facts) {
    facts = {};
    CFile file;
    Failure error;
    if (!file.Open(path, CFile::modeRead, &error)) return error;
    Sha256 hash;
    RecordLineChecker checker;
    checker.ExpectProduct(product <= UINT32_MAX ? std::optional<uint32_t>(static_cast<uint32_t>(product))
                                                : std::nullopt);
    const auto take = [&](std::string_view line) {
        if (checker.Check(line).damage != LineDamage::kNone) return;
        const std::string_view key = LineKey(line);
        if (facts.records++ == 0) facts.first_key = LedgerField(key);
        facts.last_key = key;
    };
    std::vector<char> buffer(1 << 16);
    std::string carry;  // a line begun in the chunk before
    for (;;) {
        const int64_t n = file.Read(buffer.data(), buffer.size(), &error);
        if (n < 0) return error;
        if (n == 0) break;
        hash.Update(buffer.data(), static_cast<size_t>(n));
        facts.size += static_cast<uint64_t>(n);
        std::string_view chunk(buffer.data(), static_cast<size_t>(n));
        for (size_t lf; (lf = chunk.find('\n')) != std::string_view::npos; chunk.remove_prefix(lf + 1)) {
            if (carry.empty()) {
                take(chunk.substr(0, lf));
            } else {
                carry.append(chunk.substr(0, lf));
                take(carry);
                carry.clear();
            }
        }
        carry.append(chunk);
    }
    if (!carry.empty()) take(carry);
    facts.last_key = LedgerField(facts.last_key);
    facts.sha256 = hash.HexDigest();
    if (facts.sha256.empty())
        return Failure{FailureKind::Other, path + ": the system's SHA-256 failed; try again", 0,
                       "SHA-256 failed"};
    return {};
}

Failure AppendLedgerEntry(const std::string& upload_folder, const std::string& file, uint64_t product,
                          LedgerEntryKind kind) {
    const std::string path = RecordFilePath(upload_folder, file);
    RecordFileFacts facts;
    if (Failure error = ReadRecordFileFacts(path, product, facts)) {
        error.message = "the record file " + path + " cannot be read to record it in the ledger: " +
                        (error.reason.empty() ? error.message : error.reason);
        return error;
    }
    return AppendLedgerEntry(upload_folder, file, product, kind, facts, SystemClock());
}

Failure AppendLedgerEntry(const std::string& upload_folder, const std::string& file, uint64_t product,
                          LedgerEntryKind kind, const RecordFileFacts& facts, const Clock& clock) {
    return AppendLedgerEntries(upload_folder, {{file, product, kind, facts}}, clock);
}

Failure AppendLedgerEntries(const std::string& upload_folder, const std::vector<LedgerAppend>& appends,
                            const Clock& clock) {
    if (appends.empty()) return {};
    const std::string path = LedgerPath(upload_folder);
    LedgerFile ledger;
    Failure error;
    if (!ledger.Open(path, CFile::modeReadWrite | CFile::modeCreate | CFile::modeNoTruncate, &error))
        return LedgerFailure(path, "cannot be opened for writing", error);
    if (!ledger.Lock(&error)) return LedgerFailure(path, "cannot be locked", error);

    // The last entry, from the ledger's end.
    const int64_t length = ledger.GetLength();
    if (length < 0) return LedgerFailure(path, "cannot be read", LastSystemFailure(path));
    const int64_t from = std::max<int64_t>(0, length - static_cast<int64_t>(kTail));
    std::string tail(static_cast<size_t>(length - from), '\0');
    if (ledger.Seek(from, CFile::begin, &error) < 0) return LedgerFailure(path, "cannot be read", error);
    const int64_t got = ledger.Read(tail.data(), tail.size(), &error);
    if (got < 0) return LedgerFailure(path, "cannot be read", error);
    tail.resize(static_cast<size_t>(got));

    LedgerEntry entry;
    entry.sequence = 1;
    entry.previous = kLedgerGenesis;
    std::string header;
    if (tail.empty()) {
        header = std::string(kHeaderWord) + NewLedgerId() + "\n";
    } else {
        // An append that a killed writer left without its line end never became an entry: it goes, so the
        // entry follows the last whole one.
        if (tail.back() != '\n') {
            const size_t lf = tail.rfind('\n');
            if (lf == std::string::npos && from > 0)
                return LedgerFailure(path,
                                     "ends in a line too long for an entry; keep it as it is, move it "
                                     "aside and run korvel-cli verify --ledger --adopt to begin a new one");
            const uint64_t whole = static_cast<uint64_t>(from) + (lf == std::string::npos ? 0 : lf + 1);
            if (!ledger.Truncate(whole, &error)) return LedgerFailure(path, "cannot be mended", error);
            tail.resize(static_cast<size_t>(whole - static_cast<uint64_t>(from)));
            if (whole == 0) header = std::string(kHeaderWord) + NewLedgerId() + "\n";
        }
        if (header.empty()) {
            tail.pop_back();
            const size_t lf = tail.rfind('\n');
            const std::string_view last = std::string_view(tail).substr(lf == std::string::npos ? 0 : lf + 1);
            LedgerEntry before;
            std::string why;
            if (lf == std::string::npos && from == 0) {
                if (last.substr(0, kHeaderWord.size()) != kHeaderWord)
                    return LedgerFailure(path,
                                         "is no korvel ledger (its first line is not \"korvel ledger 1\"); "
                                         "move it aside, then run korvel-cli verify --ledger --adopt");
            } else if (!ParseLedgerLine(last, before, why)) {
                return LedgerFailure(path, "cannot take an entry: its last line is not one (" + why +
                                               "); keep it as it is, move it aside and run korvel-cli verify "
                                               "--ledger --adopt to begin a new one");
            } else {
                entry.sequence = before.sequence + 1;
                entry.previous = before.hash;
            }
        }
    }

    std::string lines = header;
    const std::string utc = UtcText(clock.Now()), pc_clock = PcClockText(clock.Local(), clock.Now());
    const std::string host = LedgerField(HostName());
    for (const LedgerAppend& append : appends) {
        entry.kind = append.kind;
        entry.utc_time = utc;
        entry.pc_clock = pc_clock;
        entry.host = host;
        entry.product = append.product;
        entry.file = LedgerField(append.file);
        entry.size = append.facts.size;
        entry.sha256 = append.facts.sha256;
        entry.first_key = append.facts.first_key;
        entry.last_key = append.facts.last_key;
        entry.records = append.facts.records;
        entry.hash = LedgerEntryHash(entry);
        lines += LedgerEntryText(entry) + "\t" + entry.hash + "\n";
        ++entry.sequence;
        entry.previous = entry.hash;
    }
    const int64_t end = ledger.Seek(0, CFile::end, &error);
    if (end < 0) return LedgerFailure(path, "cannot be written", error);
    if (!ledger.Write(lines.data(), lines.size(), &error) || !ledger.FlushData(&error)) {
        // A part written (a full disk) goes again, so the ledger ends in its last whole entry.
        ledger.Truncate(static_cast<uint64_t>(end));
        return LedgerFailure(path, "cannot be written", error);
    }
    // A ledger just made keeps its name after a power cut.
    if (!header.empty() && !SyncDirectory(upload_folder, &error))
        return LedgerFailure(path, "cannot be written", error);
    return {};
}

std::string SavedButNotRecorded(const std::string& path, const Failure& why) {
    return "the record file " + path + " was saved but not recorded in the ledger: " + why.message +
           "; the file is kept: mend the ledger's folder, then run korvel-cli verify --ledger --adopt to "
           "record it "
           "(as adopted)";
}

}  // namespace korvel
