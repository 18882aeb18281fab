// SPDX-License-Identifier: MIT
// The ledger's file: what an append writes, what reading takes back, what it refuses, and appends that
// meet (threads of one process) or follow a killed one.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "ledger/ledger.h"
#include "platform/host_name.h"
#include "platform/sha256.h"
#include "support/files.h"
#include "support/record_lines.h"
#include "support/temp_folder.h"

namespace korvel {
namespace {

using testing::Lines;
using testing::RecordFileName;
using testing::RecordLines;
using testing::TempFolder;

// The fields of a ledger line as the file holds them.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

// The hash a line must end with: of its bytes before the TAB ahead of its last field.
std::string OwnHash(const std::string& line) { return Sha256Hex(line.substr(0, line.rfind('\t'))); }

TEST(LedgerFile, AnAppendWritesTheFileTheFormatSays) {
    TempFolder folder;
    const std::string first = RecordLines(0, 9), second = RecordLines(9, 20);
    folder.Write(RecordFileName(0), first);
    folder.Write("sub/" + RecordFileName(60), second);
    ASSERT_FALSE(AppendLedgerEntry(folder.path(), RecordFileName(0), 123));
    ASSERT_FALSE(
        AppendLedgerEntry(folder.path(), "sub/" + RecordFileName(60), 123, LedgerEntryKind::Adopted));

    const std::vector<std::string> lines = Lines(folder.Read(kLedgerFileName));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("korvel ledger 1\t[0-9a-f]{32}"))) << lines[0];
    struct Expected {
        const char* sequence;
        const char* kind;
        std::string file;
        const std::string& bytes;
        int first, last;
    };
    const Expected expected[] = {{"1", "downloaded", RecordFileName(0), first, 0, 9},
                                 {"2", "adopted", "sub/" + RecordFileName(60), second, 9, 20}};
    std::string previous = kLedgerGenesis;
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const std::vector<std::string> f = Fields(lines[i + 1]);
        ASSERT_EQ(f.size(), 14u);
        const Expected& e = expected[i];
        EXPECT_EQ(f[0], e.sequence);
        EXPECT_EQ(f[1], e.kind);
        EXPECT_TRUE(std::regex_match(f[2], std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"))) << f[2];
        EXPECT_TRUE(std::regex_match(f[3], std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d[+-]\d\d:\d\d)")))
            << f[3];
        EXPECT_EQ(f[4], HostName());
        EXPECT_EQ(f[5], "123");
        EXPECT_EQ(f[6], e.file);
        EXPECT_EQ(f[7], std::to_string(e.bytes.size()));
        EXPECT_EQ(f[8], Sha256Hex(e.bytes));
        EXPECT_EQ(f[9], testing::RecordLine(e.first).substr(0, 25));
        EXPECT_EQ(f[10], testing::RecordLine(e.last).substr(0, 25));
        EXPECT_EQ(f[11], std::to_string(e.last - e.first + 1));
        EXPECT_EQ(f[12], previous);
        EXPECT_EQ(f[13], OwnHash(lines[i + 1]));
        previous = f[13];
    }

    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    EXPECT_EQ(ledger.id, lines[0].substr(16));
    ASSERT_EQ(ledger.entries.size(), 2u);
    EXPECT_EQ(ledger.unreadable_line, 0u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(LedgerEntryText(ledger.entries[i]) + "\t" + ledger.entries[i].hash, lines[i + 1]);
        EXPECT_EQ(LedgerEntryHash(ledger.entries[i]), Fields(lines[i + 1])[13]);
    }
    EXPECT_EQ(ledger.entries[1].kind, LedgerEntryKind::Adopted);
}

TEST(LedgerFile, TextFieldsHoldNoSeparatorAndReadBackAsWritten) {
    const struct {
        std::string raw, written;
    } cases[] = {
        {"plain-1.txt", "plain-1.txt"}, {"a\tb", "a\\x09b"},        {"a\nb", "a\\x0ab"},
        {"a\\x09b", "a\\x5cx09b"},      {"\xff\xfe", "\\xff\\xfe"}, {"记录/中文.txt", "记录/中文.txt"},
    };
    for (const auto& c : cases) EXPECT_EQ(LedgerField(c.raw), c.written) << c.raw;
}

TEST(LedgerFile, LinesThatAreNoEntryAreRefusedWithTheirReason) {
    // A well-formed line, then each field spoilt in turn.
    const std::string hash(64, 'a');
    const std::vector<std::string> good = {"3",
                                           "downloaded",
                                           "2026-12-09T18:28:12Z",
                                           "2026-12-09 20:28:12+02:00",
                                           "pc",
                                           "123",
                                           "x-123-7b.txt",
                                           "100",
                                           hash,
                                           "k1",
                                           "k2",
                                           "2",
                                           hash,
                                           hash};
    const auto join = [](std::vector<std::string> f) {
        std::string line;
        for (const std::string& field : f) line += (line.empty() ? "" : "\t") + field;
        return line;
    };
    LedgerEntry entry;
    std::string why;
    ASSERT_TRUE(ParseLedgerLine(join(good), entry, why)) << why;
    EXPECT_EQ(entry.sequence, 3u);
    EXPECT_EQ(entry.records, 2u);
    const struct {
        size_t field;
        std::string value;  // "-" removes the field
        const char* reason;
    } cases[] = {
        {0, "03", "sequence"},
        {0, "-1", "sequence"},
        {1, "copied", "kind"},
        {5, "12a", "product"},
        {6, "", "no name"},
        {7, "18446744073709551616", "size"},
        {8, hash.substr(1), "SHA-256"},
        {8, std::string(64, 'A'), "SHA-256"},
        {11, "", "record count"},
        {12, "0", "previous"},
        {13, hash + "0", "hash"},
        {13, "-", "fields"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> f = good;
        if (c.value == "-") {
            f.erase(f.begin() + static_cast<long>(c.field));
        } else {
            f[c.field] = c.value;
        }
        why.clear();
        EXPECT_FALSE(ParseLedgerLine(join(f), entry, why)) << c.field << " " << c.value;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
}

TEST(LedgerFile, AFolderWithoutALedgerHasAnEmptyOneAndAForeignFileIsRefused) {
    TempFolder folder;
    Ledger ledger;
    EXPECT_FALSE(ReadLedger(folder.path(), ledger));
    EXPECT_TRUE(ledger.entries.empty());
    EXPECT_TRUE(ledger.id.empty());

    folder.Write(kLedgerFileName, "some notes\n");
    const Failure read = ReadLedger(folder.path(), ledger);
    ASSERT_TRUE(read);
    EXPECT_NE(read.message.find(kLedgerFileName), std::string::npos) << read.message;

    folder.Write(RecordFileName(0), RecordLines(0, 3));
    const Failure append = AppendLedgerEntry(folder.path(), RecordFileName(0), 123);
    ASSERT_TRUE(append);
    EXPECT_NE(append.message.find("verify --ledger --adopt"), std::string::npos) << append.message;
    EXPECT_EQ(folder.Read(kLedgerFileName), "some notes\n");
}

TEST(LedgerFile, AnAppendCutShortIsDroppedAndTheNextEntryFollowsTheLastWholeOne) {
    TempFolder folder;
    for (int k : {0, 60, 120}) folder.Write(RecordFileName(k), RecordLines(k, k + 5));
    ASSERT_FALSE(AppendLedgerEntry(folder.path(), RecordFileName(0), 123));
    const std::string whole = folder.Read(kLedgerFileName);
    ASSERT_FALSE(AppendLedgerEntry(folder.path(), RecordFileName(60), 123));
    // The second append's line, cut in the middle, as a killed process leaves it.
    const std::string cut = folder.Read(kLedgerFileName).substr(0, whole.size() + 100);
    folder.Write(kLedgerFileName, cut);

    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    EXPECT_EQ(ledger.entries.size(), 1u);
    EXPECT_EQ(ledger.unreadable_line, 3u);
    EXPECT_NE(ledger.unreadable_reason.find("cut short"), std::string::npos) << ledger.unreadable_reason;

    ASSERT_FALSE(AppendLedgerEntry(folder.path(), RecordFileName(120), 123));
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    ASSERT_EQ(ledger.entries.size(), 2u);
    EXPECT_EQ(ledger.unreadable_line, 0u);
    EXPECT_EQ(folder.Read(kLedgerFileName).substr(0, whole.size()), whole);
    EXPECT_EQ(ledger.entries[1].sequence, 2u);
    EXPECT_EQ(ledger.entries[1].file, RecordFileName(120));
    EXPECT_EQ(ledger.entries[1].previous, ledger.entries[0].hash);
}

// Every entry of a ledger follows the one before it: sequence, link and its own hash.
void ExpectWholeChain(const Ledger& ledger) {
    std::string previous = kLedgerGenesis;
    for (size_t i = 0; i < ledger.entries.size(); ++i) {
        const LedgerEntry& e = ledger.entries[i];
        EXPECT_EQ(e.sequence, i + 1);
        EXPECT_EQ(e.previous, previous) << "entry " << i + 1;
        EXPECT_EQ(e.hash, LedgerEntryHash(e)) << "entry " << i + 1;
        previous = e.hash;
    }
}

TEST(LedgerFile, AppendsOfManyThreadsAtOnceEachGetTheirOwnLink) {
    TempFolder folder;
    constexpr int kThreads = 8, kEach = 20;
    for (int i = 0; i < kThreads * kEach; ++i) folder.Write(RecordFileName(i), RecordLines(i, i + 2));
    std::vector<std::thread> threads;
    std::vector<Failure> failures(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach && !failures[t]; ++i)
                failures[t] = AppendLedgerEntry(folder.path(), RecordFileName(t * kEach + i), 123);
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (const Failure& failure : failures) EXPECT_FALSE(failure) << failure.message;
    Ledger ledger;
    ASSERT_FALSE(ReadLedger(folder.path(), ledger));
    ASSERT_EQ(ledger.entries.size(), static_cast<size_t>(kThreads * kEach));
    ExpectWholeChain(ledger);
    std::vector<std::string> files;
    for (const LedgerEntry& e : ledger.entries) files.push_back(e.file);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(std::unique(files.begin(), files.end()), files.end());
}

}  // namespace
}  // namespace korvel
