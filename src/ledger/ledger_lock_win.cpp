// SPDX-License-Identifier: MIT
#include <windows.h>

#include "ledger/ledger_lock.h"

namespace korvel {

bool LedgerFile::Lock(Failure* error) {
    // Exclusively, waiting for another holder: each handle is its own holder, so two appenders of one
    // process exclude each other too. Windows' locks are mandatory, so the byte locked lies far beyond any
    // entry: a reader of the ledger is never refused while an append runs.
    OVERLAPPED beyond{};
    beyond.Offset = MAXDWORD;
    beyond.OffsetHigh = 0x7FFFFFFF;
    if (!LockFileEx(reinterpret_cast<HANDLE>(m_hFile), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &beyond))
        return Fail("cannot lock", error);
    return true;
}

bool LedgerFile::FlushData(Failure* error) { return Flush(error); }

bool LedgerFile::Truncate(uint64_t length, Failure* error) {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFileInformationByHandle(reinterpret_cast<HANDLE>(m_hFile), FileEndOfFileInfo, &info, sizeof info))
        return Fail("cannot shorten", error);
    return true;
}

}  // namespace korvel
