// SPDX-License-Identifier: MIT
// The database libraries behind OpenRecordStore, one file each.
#pragma once

#include <memory>
#include <string>

#include "store/record_store.h"

namespace korvel {

// read_only: for a store opened with StoreUse::Read.
std::unique_ptr<RecordStore> OpenSqliteStore(const std::string& path, Failure& failure, bool read_only);
// conninfo as libpq takes it, a postgresql:// URI.
std::unique_ptr<RecordStore> OpenPostgresStore(const std::string& conninfo, Failure& failure, bool read_only);

}  // namespace korvel
