// SPDX-License-Identifier: MIT
#include <windows.h>

#include <algorithm>

#include "text/cfile.h"
#include "text/wide_win.h"

namespace korvel {
namespace {

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

bool CFile::Open(const std::string& path, unsigned flags, Failure* error) {
    Close();
    m_strPath = path;
    DWORD access = GENERIC_READ;
    if (flags & modeReadWrite) {
        access = GENERIC_READ | GENERIC_WRITE;
    } else if (flags & modeWrite) {
        access = GENERIC_WRITE;
    }
    DWORD disposition = OPEN_EXISTING;
    if (flags & modeCreate) {
        disposition = (flags & modeCreateNew)    ? CREATE_NEW
                      : (flags & modeNoTruncate) ? OPEN_ALWAYS
                                                 : CREATE_ALWAYS;
    }
    const bool reading = !(flags & (modeWrite | modeReadWrite | modeCreate));
    // Others may read and even delete or rename the file meanwhile, as on POSIX systems.
    const HANDLE h =
        CreateFileW(ToWide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail("cannot open", error);
    m_hFile = reinterpret_cast<intptr_t>(h);
    // A file opened for reading must be a file on a disk: a pipe or a device is refused.
    if (reading && GetFileType(h) != FILE_TYPE_DISK) return NotRegular(error);
    return true;
}

void CFile::Close() {
    if (!IsOpen()) return;
    CloseHandle(H(m_hFile));
    m_hFile = kInvalidHandle;
}

int64_t CFile::Read(void* buffer, size_t count, Failure* error) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(H(m_hFile), out + done, want, &got, nullptr)) return Fail("cannot read", error), -1;
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

bool CFile::Write(const void* buffer, size_t count, Failure* error) {
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(count - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(H(m_hFile), in + done, want, &put, nullptr)) return Fail("cannot write", error);
        done += put;
    }
    return true;
}

int64_t CFile::Seek(int64_t offset, SeekPosition from, Failure* error) {
    const DWORD method = from == begin ? FILE_BEGIN : from == current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance{}, position{};
    distance.QuadPart = offset;
    if (!SetFilePointerEx(H(m_hFile), distance, &position, method)) return Fail("cannot seek in", error), -1;
    return position.QuadPart;
}

int64_t CFile::GetPosition() const {
    LARGE_INTEGER zero{}, position{};
    if (!SetFilePointerEx(H(m_hFile), zero, &position, FILE_CURRENT)) return -1;
    return position.QuadPart;
}

int64_t CFile::GetLength() const {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(H(m_hFile), &size)) return -1;
    return size.QuadPart;
}

bool CFile::TryLock(Failure* error) {
    OVERLAPPED whole{};
    if (!LockFileEx(H(m_hFile), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                    &whole))
        return Fail("cannot lock", error);
    return true;
}

bool CFile::HasName() const {
    // A file deleted while open keeps its name until its last handle closes, marked "delete pending".
    FILE_STANDARD_INFO info{};
    if (!GetFileInformationByHandleEx(H(m_hFile), FileStandardInfo, &info, sizeof info)) return false;
    return !info.DeletePending;
}

bool CFile::Flush(Failure* error) {
    if (!FlushFileBuffers(H(m_hFile))) return Fail("cannot write to disk", error);
    return true;
}

}  // namespace korvel
