// SPDX-License-Identifier: MIT
#include "views/ledger_text.h"

#include "text/number.h"
#include "text/shown.h"
#include "views/archive_text.h"
#include "views/record_texts.h"

namespace korvel {
namespace {

std::string EntryText(const LedgerFileCheck& f) {
    std::string text = "entry " + std::to_string(f.entry);
    if (f.kind == LedgerEntryKind::Adopted) text += ", adopted";
    if (!f.recorded_at.empty()) text += ", recorded " + Shown(f.recorded_at);
    return text;
}

std::string ChainText(const LedgerCheck& check) {
    if (check.chain.intact) return "chain intact";
    std::string text = "chain broken at line " + std::to_string(check.chain.line);
    if (check.chain.entry) text += " (entry " + std::to_string(check.chain.entry) + ")";
    return text;
}

// "1,234"-free plain counts; "A (B adopted)" when some are adopted.
std::string Counts(size_t proven, size_t adopted, size_t changed, size_t missing, size_t unrecorded,
                   size_t unreadable) {
    std::string text = Plural(static_cast<int64_t>(proven), "file proven", "files proven");
    if (adopted) text += " (" + std::to_string(adopted) + " adopted)";
    text += ", " + std::to_string(changed) + " changed, " + std::to_string(missing) + " missing, " +
            std::to_string(unrecorded) + " unrecorded";
    if (unreadable) text += ", " + std::to_string(unreadable) + " unreadable";
    return text;
}

std::string Replace(std::string_view format, const std::string& value) {
    std::string text(format);
    const size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, value);
    return text;
}

}  // namespace

std::string LedgerSummary(const LedgerCheck& check) {
    return "ledger: " +
           Counts(check.Count(LedgerFileState::Proven), check.Adopted(),
                  check.Count(LedgerFileState::Changed), check.Count(LedgerFileState::Missing),
                  check.Count(LedgerFileState::Unrecorded), check.Count(LedgerFileState::Unreadable)) +
           "; " + ChainText(check);
}

std::string LedgerSummaryZh(const LedgerCheck& check, std::optional<uint64_t> product) {
    namespace t = record_text;
    size_t proven = 0, adopted = 0, changed = 0, missing = 0, unrecorded = 0, unreadable = 0;
    for (const LedgerDeviceCheck& d : check.devices) {
        if (product && d.product != *product) continue;
        proven += d.proven;
        adopted += d.adopted;
        changed += d.changed.size();
        missing += d.missing.size();
        unrecorded += d.unrecorded.size();
        unreadable += d.unreadable.size();
    }
    std::string text(t::kLedger);
    text += std::to_string(proven) + std::string(t::kLedgerProven);
    if (adopted) text += Replace(t::kLedgerAdopted, std::to_string(adopted));
    text += "，" + std::to_string(changed) + std::string(t::kLedgerChanged);
    text += "，" + std::to_string(missing) + std::string(t::kLedgerMissing);
    text += "，" + std::to_string(unrecorded) + std::string(t::kLedgerUnrecorded);
    if (unreadable) text += "，" + std::to_string(unreadable) + std::string(t::kLedgerUnreadable);
    text += "；";
    text += check.chain.intact ? std::string(t::kLedgerChainIntact)
                               : Replace(t::kLedgerChainBroken, std::to_string(check.chain.line));
    return text;
}

std::string LedgerCheckText(const LedgerCheck& check) {
    std::string out;
    if (!check.has_ledger) {
        out += "ledger: none in " + Shown(check.folder) +
               ": no download was recorded here, so no file is proven; korvel-cli verify --ledger --adopt "
               "records the files there now once, as adopted\n";
    } else {
        out += "ledger: " + Shown(check.ledger_path) + ", " +
               Plural(static_cast<int64_t>(check.entries), "entry", "entries") + ", " + ChainText(check) +
               "\n";
    }
    for (const std::string& problem : check.problems) out += "unreadable: " + problem + "\n";
    for (const LedgerDeviceCheck& d : check.devices) {
        out += "product " + std::to_string(d.product) + ": " +
               Counts(d.proven, d.adopted, d.changed.size(), d.missing.size(), d.unrecorded.size(),
                      d.unreadable.size()) +
               "\n";
        for (const LedgerFileCheck& f : d.changed) {
            out += "  changed: " + Shown(f.file) + " (" + EntryText(f) +
                   "): " + std::to_string(f.recorded_size) + " bytes and " +
                   std::to_string(f.recorded_records) + " records recorded, " + std::to_string(f.size) +
                   " bytes and " + std::to_string(f.records) + " records now";
            if (!f.copy_of.empty()) out += "; it holds the bytes recorded for " + Shown(f.copy_of);
            if (check.has_ledger && !f.old_bytes_known)
                out += "; which lines differ needs the recorded bytes (verify --ledger --db)";
            out += "\n";
            for (const LedgerLineChange& change : f.changes) {
                for (size_t i = 0; i < change.recorded.size(); ++i)
                    out += "    line " + std::to_string(change.recorded_from + i) +
                           " recorded: " + change.recorded[i] + "\n";
                for (size_t i = 0; i < change.current.size(); ++i)
                    out += "    line " + std::to_string(change.current_from + i) +
                           " now:      " + change.current[i] + "\n";
            }
        }
        for (const LedgerFileCheck& f : d.missing)
            out += "  missing: " + Shown(f.file) + " (" + EntryText(f) +
                   "): " + Plural(static_cast<int64_t>(f.recorded_records), "record", "records") +
                   ", not in the folder\n";
        for (const LedgerFileCheck& f : d.unrecorded)
            out += "  unrecorded: " + Shown(f.file) +
                   ": not in the ledger (copied in, from before the ledger, or its download ended before its "
                   "entry)\n";
        for (const LedgerFileCheck& f : d.unreadable)
            out += "  unreadable: " + Shown(f.file) + ": " + Shown(f.problem) + "\n";
    }
    if (!check.chain.intact)
        out += "chain: breaks at line " + std::to_string(check.chain.line) +
               (check.chain.entry ? " (entry " + std::to_string(check.chain.entry) + ")" : std::string()) +
               ": " + Shown(check.chain.reason) + "\n";
    const size_t proven = check.Count(LedgerFileState::Proven);
    if (check.AllProven()) {
        out += "verdict: all proven (" + Plural(static_cast<int64_t>(proven), "file", "files") +
               "), chain intact\n";
    } else {
        out += "verdict: not proven: " +
               Counts(proven, check.Adopted(), check.Count(LedgerFileState::Changed),
                      check.Count(LedgerFileState::Missing), check.Count(LedgerFileState::Unrecorded),
                      check.Count(LedgerFileState::Unreadable)) +
               "; " + ChainText(check) + "\n";
    }
    return out;
}

void AddLedgerLine(std::string& archive_text, const LedgerCheck& check) {
    const size_t end = archive_text.empty() ? 0 : archive_text.size() - 1;
    const size_t last = archive_text.rfind('\n', end == 0 ? 0 : end - 1);
    archive_text.insert(last == std::string::npos ? 0 : last + 1, LedgerSummary(check) + "\n");
}

void AddLedgerLineZh(std::string& archive_text_zh, const LedgerCheck& check) {
    size_t at = 0;
    for (int line = 0; line < 3 && at != std::string::npos; ++line) {
        at = archive_text_zh.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    archive_text_zh.insert(at == std::string::npos ? archive_text_zh.size() : at,
                           LedgerSummaryZh(check) + "\n");
}

}  // namespace korvel
