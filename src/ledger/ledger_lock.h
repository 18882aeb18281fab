// SPDX-License-Identifier: MIT
// The ledger file held for one append: opened (created when absent) for reading and writing and locked
// against every other appender, in this process or another, until it is closed. The lock is the
// system's own (flock, LockFileEx), so it ends with the process, also a killed one.
#pragma once

#include <cstdint>
#include <string>

#include "text/cfile.h"

namespace korvel {

class LedgerFile : public CFile {
  public:
    // Waits for the lock; false with error filled when the system refuses it.
    bool Lock(Failure* error = nullptr);
    // Pushes the written bytes, and what reading them needs (the length), to the disk itself: a
    // power cut after it keeps the entry. (fdatasync; the times of the file are left to the system.)
    bool FlushData(Failure* error = nullptr);
    // Cuts the file to `length` bytes (a write that a killed appender left half done).
    bool Truncate(uint64_t length, Failure* error = nullptr);
};

}  // namespace korvel
