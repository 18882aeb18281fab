// SPDX-License-Identifier: MIT
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "ledger/ledger_lock.h"

namespace korvel {

bool LedgerFile::Lock(Failure* error) {
    // flock, not fcntl's record locks: those are per process, so two appenders of one process (two
    // ports' downloads) would not exclude each other.
    while (::flock(static_cast<int>(m_hFile), LOCK_EX) != 0) {
        if (errno != EINTR) return Fail("cannot lock", error);
    }
    return true;
}

bool LedgerFile::FlushData(Failure* error) {
    while (::fdatasync(static_cast<int>(m_hFile)) != 0) {
        if (errno != EINTR) return Fail("cannot write to disk", error);
    }
    return true;
}

bool LedgerFile::Truncate(uint64_t length, Failure* error) {
    while (::ftruncate(static_cast<int>(m_hFile), static_cast<off_t>(length)) != 0) {
        if (errno != EINTR) return Fail("cannot shorten", error);
    }
    return true;
}

}  // namespace korvel
