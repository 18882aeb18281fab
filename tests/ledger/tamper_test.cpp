// SPDX-License-Identifier: MIT
// What the ledger check says after each way a folder of record files can be tampered with: the verdict
// of every case comes from the case, never from the check. The record files are written by the tests'
// own model of a download (support/record_lines.h), each recorded as a download records it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "archive/ledger_check.h"
#include "ledger/ledger.h"
#include "platform/sha256.h"
#include "support/files.h"
#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel {
namespace {

using testing::Lines;
using testing::RecordFileName;
using testing::RecordLine;
using testing::RecordLines;
using testing::TempFolder;

// Three downloads of device 123 (each repeating the record the one before ended with) and one of 456.
const std::string kF1 = RecordFileName(0), kF2 = RecordFileName(3600), kF3 = RecordFileName(7200);
const std::string kG1 = RecordFileName(10, 456);

void Download(const TempFolder& folder, const std::string& name, const std::string& bytes, uint64_t product) {
    folder.Write(name, bytes);
    ASSERT_FALSE(AppendLedgerEntry(folder.path(), name, product)) << name;
}

void ThreeDownloads(const TempFolder& folder) {
    Download(folder, kF1, RecordLines(0, 100), 123);
    Download(folder, kF2, RecordLines(100, 200), 123);
    Download(folder, kF3, RecordLines(200, 300), 123);
    Download(folder, kG1, RecordLines(0, 50, "0456"), 456);
}

// The ledger's lines, for the cases that edit it.
std::vector<std::string> LedgerLines(const TempFolder& folder) { return Lines(folder.Read(kLedgerFileName)); }
void WriteLedger(const TempFolder& folder, const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    folder.Write(kLedgerFileName, text);
}
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}
std::string Joined(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : "\t") + f;
    return line;
}
// An entry line with its own hash made again, as someone who knows the format would.
std::string Rehashed(std::vector<std::string> f) {
    f.pop_back();
    const std::string text = Joined(f);
    return text + "\t" + Sha256Hex(text);
}

// Record 150 of device 123 with another value, its checksum made again: a line that passes every check
// of the record format.
std::string Forged150() {
    const std::string line = RecordLine(150);
    const size_t value_at = line.find(' ', 11) + 1;
    const std::string text = line.substr(0, value_at) + "999" + line.substr(line.find(' ', value_at), 5);
    return testing::RecordLine(text);
}

// The verdict a case must give: per file its state, and the chain.
struct Expected {
    size_t proven;
    std::vector<std::string> changed, missing, unrecorded;
    size_t break_line;         // 0 when the chain is intact
    std::string break_reason;  // a part of the reason
};
Expected Verdict(size_t proven, std::vector<std::string> changed = {}, std::vector<std::string> missing = {},
                 std::vector<std::string> unrecorded = {}, size_t break_line = 0,
                 std::string break_reason = {}) {
    return {proven,     std::move(changed),     std::move(missing), std::move(unrecorded),
            break_line, std::move(break_reason)};
}

std::vector<std::string> Names(const std::vector<LedgerFileCheck>& files) {
    std::vector<std::string> names;
    for (const LedgerFileCheck& f : files) names.push_back(f.file);
    std::sort(names.begin(), names.end());
    return names;
}

struct Case {
    const char* name;
    std::function<void(const TempFolder&)> tamper;
    Expected expected;
};

TEST(LedgerTampering, EachWayOfTamperingGivesItsVerdict) {
    const Case cases[] = {
        {"nothing touched", [](const TempFolder&) {}, Verdict(4)},
        {"one value changed and its checksum made again",
         [](const TempFolder& f) {
             f.Write(kF2, RecordLines(100, 149) + Forged150() + RecordLines(151, 200));
         },
         Verdict(3, {kF2})},
        {"a line removed",
         [](const TempFolder& f) { f.Write(kF2, RecordLines(100, 149) + RecordLines(151, 200)); },
         Verdict(3, {kF2})},
        {"a file deleted", [](const TempFolder& f) { std::remove((f / kF3).c_str()); },
         Verdict(3, {}, {kF3})},
        {"an older copy put back in a newer file's place",
         [](const TempFolder& f) { f.Write(kF3, f.Read(kF2)); }, Verdict(3, {kF3})},
        {"a file added under a forged name",
         [](const TempFolder& f) { f.Write(RecordFileName(9000), RecordLines(300, 320)); },
         Verdict(4, {}, {}, {RecordFileName(9000)})},
        {"a file saved and its download killed before its entry",
         [](const TempFolder& f) { f.Write(RecordFileName(9000), RecordLines(300, 320)); },
         Verdict(4, {}, {}, {RecordFileName(9000)})},
        {"the ledger's last entry removed",
         [](const TempFolder& f) {
             std::vector<std::string> lines = LedgerLines(f);
             lines.pop_back();
             WriteLedger(f, lines);
         },
         Verdict(3, {}, {}, {kG1})},
        {"an entry in the middle removed",
         [](const TempFolder& f) {
             std::vector<std::string> lines = LedgerLines(f);
             lines.erase(lines.begin() + 2);
             WriteLedger(f, lines);
         },
         Verdict(3, {}, {}, {kF2}, 3, "sequence")},
        {"a file changed and its entry's file hash written to match",
         [](const TempFolder& f) {
             const std::string forged = RecordLines(100, 149) + Forged150() + RecordLines(151, 200);
             f.Write(kF2, forged);
             std::vector<std::string> lines = LedgerLines(f);
             std::vector<std::string> fields = Fields(lines[2]);
             fields[8] = Sha256Hex(forged);
             lines[2] = Joined(fields);
             WriteLedger(f, lines);
         },
         Verdict(4, {}, {}, {}, 3, "own hash")},
        {"a file changed and its entry made again, hash and all",
         [](const TempFolder& f) {
             const std::string forged = RecordLines(100, 149) + Forged150() + RecordLines(151, 200);
             f.Write(kF2, forged);
             std::vector<std::string> lines = LedgerLines(f);
             std::vector<std::string> fields = Fields(lines[2]);
             fields[8] = Sha256Hex(forged);
             lines[2] = Rehashed(fields);
             WriteLedger(f, lines);
         },
         Verdict(4, {}, {}, {}, 4, "does not link")},
        {"the ledger's last line cut short",
         [](const TempFolder& f) {
             const std::string text = f.Read(kLedgerFileName);
             f.Write(kLedgerFileName, text.substr(0, text.size() - 10));
         },
         Verdict(3, {}, {}, {kG1}, 5, "cut short")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        ThreeDownloads(folder);
        c.tamper(folder);
        LedgerCheck check;
        ASSERT_FALSE(CheckLedger(folder.path(), check));
        std::vector<std::string> changed, missing, unrecorded;
        size_t proven = 0;
        for (const LedgerDeviceCheck& d : check.devices) {
            proven += d.proven;
            for (auto [from, to] :
                 {std::pair{&d.changed, &changed}, {&d.missing, &missing}, {&d.unrecorded, &unrecorded}})
                for (const std::string& name : Names(*from)) to->push_back(name);
            EXPECT_TRUE(d.unreadable.empty());
        }
        const Expected& e = c.expected;
        EXPECT_EQ(proven, e.proven);
        EXPECT_EQ(check.Adopted(), 0u);
        EXPECT_EQ(changed, e.changed);
        EXPECT_EQ(missing, e.missing);
        EXPECT_EQ(unrecorded, e.unrecorded);
        EXPECT_EQ(check.chain.intact, e.break_line == 0) << check.chain.reason;
        EXPECT_EQ(check.chain.line, e.break_line);
        EXPECT_NE(check.chain.reason.find(e.break_reason), std::string::npos) << check.chain.reason;
        const bool all = e.changed.empty() && e.missing.empty() && e.unrecorded.empty() && e.break_line == 0;
        EXPECT_EQ(check.AllProven(), all);
    }
}

TEST(LedgerTampering, AForgedValueThatEveryRecordCheckAcceptsIsStillAChangedFile) {
    TempFolder folder;
    ThreeDownloads(folder);
    folder.Write(kF2, RecordLines(100, 149) + Forged150() + RecordLines(151, 200));
    // The records alone show nothing: the line's checksum holds and no record is missing.
    const Archive archive = ReadArchive(folder.path());
    EXPECT_TRUE(archive.Complete());
    LedgerCheck check;
    ASSERT_FALSE(CheckLedger(folder.path(), check));
    ASSERT_EQ(check.Count(LedgerFileState::Changed), 1u);
    const LedgerFileCheck& changed = check.devices[0].changed[0];
    EXPECT_EQ(changed.entry, 2u);
    EXPECT_EQ(changed.recorded_records, 101u);
    EXPECT_EQ(changed.records, 101u);
    EXPECT_FALSE(changed.old_bytes_known);

    // With the bytes as recorded (as a witness keeps them) the line that differs is named.
    const std::string recorded = RecordLines(100, 200);
    ASSERT_FALSE(CheckLedger(folder.path(), check, [&](const LedgerEntry& e) -> std::optional<std::string> {
        if (e.file == kF2) return recorded;
        return std::nullopt;
    }));
    const LedgerFileCheck& named = check.devices[0].changed[0];
    ASSERT_TRUE(named.old_bytes_known);
    ASSERT_EQ(named.changes.size(), 1u);
    EXPECT_EQ(named.changes[0].recorded_from, 51u);
    EXPECT_EQ(named.changes[0].recorded,
              std::vector<std::string>{RecordLine(150).substr(0, RecordLine(150).size() - 1)});
    EXPECT_EQ(named.changes[0].current,
              std::vector<std::string>{Forged150().substr(0, Forged150().size() - 1)});
}

TEST(LedgerTampering, AnOlderCopyPutBackIsNamedAsTheDownloadWhoseBytesItHolds) {
    TempFolder folder;
    ThreeDownloads(folder);
    folder.Write(kF3, folder.Read(kF2));
    LedgerCheck check;
    ASSERT_FALSE(CheckLedger(folder.path(), check));
    ASSERT_EQ(check.devices[0].changed.size(), 1u);
    EXPECT_EQ(check.devices[0].changed[0].copy_of, kF2);
}

TEST(LedgerTampering, DifferingLinesNameTheSpanThatChanged) {
    const struct {
        const char* name;
        std::string recorded, current;
        size_t from;
        std::vector<std::string> was, now;
    } cases[] = {
        {"same", "a\nb\nc\n", "a\nb\nc\n", 0, {}, {}},
        {"one changed", "a\nb\nc\n", "a\nx\nc\n", 2, {"b"}, {"x"}},
        {"one removed", "a\nb\nc\n", "a\nc\n", 2, {"b"}, {}},
        {"one added at the end", "a\nb\n", "a\nb\nc\n", 3, {}, {"c"}},
        {"first and last changed", "a\nb\nc\n", "x\nb\ny\n", 1, {"a", "b", "c"}, {"x", "b", "y"}},
        {"a control byte shown", "a\n", "a\x1b\n", 1, {"a"}, {"a\\x1b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<LedgerLineChange> changes = DifferingLines(c.recorded, c.current);
        if (c.from == 0) {
            EXPECT_TRUE(changes.empty());
            continue;
        }
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0].recorded_from, c.from);
        EXPECT_EQ(changes[0].current_from, c.from);
        EXPECT_EQ(changes[0].recorded, c.was);
        EXPECT_EQ(changes[0].current, c.now);
    }
}

TEST(LedgerAdoption, FilesFromBeforeTheLedgerAreAdoptedOnceAndChangedOnesNever) {
    TempFolder folder;
    folder.Write(kF1, RecordLines(0, 100));  // from before the ledger
    folder.Write("older/" + kG1, RecordLines(0, 50, "0456"));
    Download(folder, kF2, RecordLines(100, 200), 123);
    folder.Write(kF2, RecordLines(100, 199));  // changed after its download
    LedgerCheck check;
    ASSERT_FALSE(CheckLedger(folder.path(), check));
    size_t adopted = 0;
    ASSERT_FALSE(AdoptUnrecorded(check, adopted));
    EXPECT_EQ(adopted, 2u);

    ASSERT_FALSE(CheckLedger(folder.path(), check));
    ASSERT_EQ(check.devices.size(), 2u);
    EXPECT_EQ(check.devices[0].proven, 1u);
    EXPECT_EQ(check.devices[0].adopted, 1u);
    EXPECT_EQ(Names(check.devices[0].changed), std::vector<std::string>{kF2});
    EXPECT_TRUE(check.devices[0].unrecorded.empty());
    EXPECT_EQ(check.devices[1].product, 456u);
    EXPECT_EQ(check.devices[1].adopted, 1u);
    EXPECT_TRUE(check.chain.intact);
    ASSERT_FALSE(AdoptUnrecorded(check, adopted));
    EXPECT_EQ(adopted, 0u);

    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    ASSERT_EQ(ledger.entries.size(), 3u);
    EXPECT_EQ(ledger.entries[0].kind, LedgerEntryKind::Downloaded);
    EXPECT_EQ(ledger.entries[1].kind, LedgerEntryKind::Adopted);
    EXPECT_EQ(ledger.entries[1].file, kF1);
    EXPECT_EQ(ledger.entries[2].kind, LedgerEntryKind::Adopted);
    EXPECT_EQ(ledger.entries[2].file, "older/" + kG1);
    EXPECT_EQ(ledger.entries[2].records, 51u);
}

TEST(LedgerTampering, AFolderWithoutALedgerProvesNothing) {
    TempFolder folder;
    folder.Write(kF1, RecordLines(0, 100));
    LedgerCheck check;
    ASSERT_FALSE(CheckLedger(folder.path(), check));
    EXPECT_FALSE(check.has_ledger);
    EXPECT_EQ(check.Count(LedgerFileState::Unrecorded), 1u);
    EXPECT_FALSE(check.AllProven());
    EXPECT_FALSE(FolderLedgerCheck(folder.path()).has_value());
}

}  // namespace
}  // namespace korvel
