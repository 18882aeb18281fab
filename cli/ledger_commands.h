// SPDX-License-Identifier: MIT
// verify --ledger: the upload folder's record files against the ledger of their downloads.
#pragma once

#include <optional>
#include <string>

namespace korvel::cli {

// Checks the folder (by default the upload folder) against its ledger and prints the check; with adopt it
// first records the files that no entry holds as adopted. 0 when every file is proven and the chain is
// intact, 5 otherwise, 2 for a folder that cannot be read, 4 when adopting could not write the ledger.
// With db, a changed file's lines come from the bytes the database keeps, and the folder and its ledger
// are compared with the entries the database received (the witness): 5 too when it disagrees, 4 when
// the database cannot be read.
int RunVerifyLedger(const std::optional<std::string>& dir, bool adopt,
                    const std::optional<std::string>& db = std::nullopt);

}  // namespace korvel::cli
