// SPDX-License-Identifier: MIT
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text/cfile.h"

namespace korvel {
namespace {

int Fd(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

bool CFile::Open(const std::string& path, unsigned flags, Failure* error) {
    Close();
    m_strPath = path;
    int oflags = O_CLOEXEC;
    if (flags & modeReadWrite) {
        oflags |= O_RDWR;
    } else if (flags & modeWrite) {
        oflags |= O_WRONLY;
    } else {
        oflags |= O_RDONLY;
    }
    const bool reading = !(flags & (modeWrite | modeReadWrite | modeCreate));
    // A pipe opened for reading would wait for a writer: open without waiting, then look at what it is.
    if (reading) oflags |= O_NONBLOCK;
    if (flags & modeCreate) {
        oflags |= O_CREAT;
        if (flags & modeCreateNew) oflags |= O_EXCL;
        if (!(flags & modeNoTruncate)) oflags |= O_TRUNC;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), oflags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Fail("cannot open", error);
    m_hFile = fd;
    if (reading) {
        struct stat st {};
        const bool stated = ::fstat(fd, &st) == 0;
        if (stated && S_ISDIR(st.st_mode)) errno = EISDIR;
        if (!stated || S_ISDIR(st.st_mode)) {
            Fail("cannot open", error);
            Close();
            return false;
        }
        if (!S_ISREG(st.st_mode)) return NotRegular(error);
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    }
    return true;
}

void CFile::Close() {
    if (!IsOpen()) return;
    ::close(Fd(m_hFile));  // no retry on EINTR: the descriptor is gone either way on Linux
    m_hFile = kInvalidHandle;
}

int64_t CFile::Read(void* buffer, size_t count, Failure* error) {
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(Fd(m_hFile), out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail("cannot read", error), -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int64_t>(done);
}

bool CFile::Write(const void* buffer, size_t count, Failure* error) {
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(Fd(m_hFile), in + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail("cannot write", error);
        done += static_cast<size_t>(n);
    }
    return true;
}

int64_t CFile::Seek(int64_t offset, SeekPosition from, Failure* error) {
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(Fd(m_hFile), static_cast<off_t>(offset), whence);
    if (pos < 0) return Fail("cannot seek in", error), -1;
    return pos;
}

int64_t CFile::GetPosition() const { return ::lseek(Fd(m_hFile), 0, SEEK_CUR); }

int64_t CFile::GetLength() const {
    struct stat st {};
    if (::fstat(Fd(m_hFile), &st) != 0) return -1;
    return st.st_size;
}

bool CFile::TryLock(Failure* error) {
    while (::flock(Fd(m_hFile), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) return Fail("cannot lock", error);
    }
    return true;
}

bool CFile::HasName() const {
    struct stat st {};
    return ::fstat(Fd(m_hFile), &st) == 0 && st.st_nlink > 0;
}

bool CFile::Flush(Failure* error) {
    while (::fsync(Fd(m_hFile)) != 0) {
        if (errno != EINTR) return Fail("cannot write to disk", error);
    }
    return true;
}

}  // namespace korvel
