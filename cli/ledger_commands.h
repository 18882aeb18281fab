// SPDX-License-Identifier: MIT
// verify --ledger: the upload folder's record files against the ledger of their downloads.
#pragma once

#include <optional>
#include <string>

namespace korvel::cli {

// Checks the folder (by default the upload folder) against its ledger and prints the check; with adopt it
// first records the files that no entry holds as adopted. 0 when every file is proven and the chain is
// intact, 5 otherwise, 2 for a folder that cannot be read, 4 when adopting could not write the ledger.
int RunVerifyLedger(const std::optional<std::string>& dir, bool adopt);

}  // namespace korvel::cli
