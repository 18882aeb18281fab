// SPDX-License-Identifier: MIT
// The check of an upload folder against its ledger: per device, which record files are proven (their
// bytes are those their entry recorded), changed, missing (recorded, not in the folder) or unrecorded (in
// the folder, never recorded: copied in, or from before the ledger), and whether the ledger's chain is
// whole or where it breaks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger.h"
#include "text/failure.h"

namespace korvel {

enum class LedgerFileState { Proven, Changed, Missing, Unrecorded, Unreadable };

// Lines of a changed file that differ from what was recorded: recorded lines [recorded_from,
// recorded_from + recorded.size()) became current lines [current_from, current_from + current.size())
// (counted from 1; one side empty for lines removed or added).
struct LedgerLineChange {
    size_t recorded_from = 0, current_from = 0;
    std::vector<std::string> recorded, current;  // the lines as written, without LF, shown plain
};

struct LedgerFileCheck {
    LedgerFileState state = LedgerFileState::Proven;
    std::string file;      // relative to the folder, as the ledger writes it
    std::string relative;  // a file in the folder: relative to it, '/'-separated, as the bytes are
    uint64_t entry = 0;    // the sequence of its entry; 0 when unrecorded
    LedgerEntryKind kind = LedgerEntryKind::Downloaded;
    std::string recorded_at;  // the entry's UTC time
    // A changed file: what the entry says and what the folder holds now.
    uint64_t recorded_size = 0, size = 0;
    uint64_t recorded_records = 0, records = 0;
    std::string copy_of;  // the file of another entry whose recorded bytes these are, when one is
    bool old_bytes_known = false;
    std::vector<LedgerLineChange> changes;  // when the recorded bytes are known
    std::string problem;                    // why an unreadable file could not be read
};

struct LedgerDeviceCheck {
    uint64_t product = 0;
    size_t proven = 0;   // files whose bytes are those recorded
    size_t adopted = 0;  // of them, recorded as adopted
    std::vector<LedgerFileCheck> changed, missing, unrecorded, unreadable;
    bool AllProven() const {
        return changed.empty() && missing.empty() && unrecorded.empty() && unreadable.empty();
    }
};

struct LedgerChain {
    bool intact = true;
    size_t line = 0;     // where it breaks: the ledger's line (from 1)
    uint64_t entry = 0;  // and the entry's sequence there, 0 when that line is no entry
    std::string reason;
};

struct LedgerCheck {
    std::string folder;
    std::string ledger_path;
    bool has_ledger = false;  // the folder holds a ledger (perhaps empty)
    std::string id;
    size_t entries = 0;
    LedgerChain chain;
    std::vector<LedgerDeviceCheck> devices;  // by product number
    std::vector<std::string> problems;       // folders that could not be read, with the reason

    bool AllProven() const;
    size_t Count(LedgerFileState state) const;
    size_t Adopted() const;
};

// The bytes of a file as its entry recorded them, when something (the witness) keeps them.
using RecordedBytes = std::function<std::optional<std::string>(const LedgerEntry& entry)>;

// Checks every record file below folder (links to folders are not followed) against the folder's
// ledger, reading each file once. A ledger that cannot be read is a failure naming it.
Failure CheckLedger(const std::string& folder, LedgerCheck& check, const RecordedBytes& recorded = {});

// The entries of the ledger as read, for a check that compares them with others (the witness).
Failure CheckLedger(const std::string& folder, LedgerCheck& check, Ledger& ledger,
                    const RecordedBytes& recorded);

// The check of a folder that holds a ledger, for the line that archive, the report and the window's check
// add; nothing when the folder holds none (their output then stays as it was). A ledger that cannot be
// read gives a check whose chain breaks at its first line, with the reason.
std::optional<LedgerCheck> FolderLedgerCheck(const std::string& folder);

// Records every unrecorded file of the check, in path order, as adopted (a file from before the ledger:
// never as downloaded); changed files are never adopted. adopted counts them.
Failure AdoptUnrecorded(const LedgerCheck& check, size_t& adopted);

// The lines that differ between what was recorded and what the file holds now: the span between their
// common beginning and common end.
std::vector<LedgerLineChange> DifferingLines(std::string_view recorded, std::string_view current);

}  // namespace korvel
