// SPDX-License-Identifier: MIT
// The ledger check as text: in full for verify --ledger, and as the one line that archive, the report
// and the window's check add when the folder holds a ledger. File names and reasons are shown plain.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "archive/ledger_check.h"

namespace korvel {

// Per device its files proven, changed (what differs), missing and unrecorded, the chain, and the verdict
// as the last line.
std::string LedgerCheckText(const LedgerCheck& check);

// "ledger: 12 files proven (2 adopted), 1 changed, 0 missing, 1 unrecorded; chain intact"
std::string LedgerSummary(const LedgerCheck& check);
// The same in Chinese, for the window's check and the report page; with product, that device's files
// only (the chain is the folder's).
std::string LedgerSummaryZh(const LedgerCheck& check, std::optional<uint64_t> product = std::nullopt);

// The summary put into ArchiveCheckText's text, before its last line (the archive's verdict stays last),
// and into ArchiveCheckTextZh's, after the folder's verdict (its third line).
void AddLedgerLine(std::string& archive_text, const LedgerCheck& check);
void AddLedgerLineZh(std::string& archive_text_zh, const LedgerCheck& check);

}  // namespace korvel
