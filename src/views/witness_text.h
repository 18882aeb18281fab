// SPDX-License-Identifier: MIT
// What the database's witness says of a folder, as verify --ledger --db prints it after the ledger's own
// check: each entry the ledger no longer agrees with and each file that is not what the witness received,
// with the time the database received the entry. File names and ids are shown plain.
#pragma once

#include <string>

#include "store/ledger_witness.h"

namespace korvel {

// database as RecordStore::Name() gives it. The last line is the witness's verdict.
std::string WitnessText(const std::string& database, const WitnessReport& report);

}  // namespace korvel
