// SPDX-License-Identifier: MIT
// A plain file on the local disk, in the window framework's manner: opened by path and flags, closed on
// destruction. The OS calls live in cfile_posix.cpp and cfile_win.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "text/failure.h"

namespace korvel {

class CFile {
  public:
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        modeCreate = 0x1000,      // create, or truncate an existing file
        modeNoTruncate = 0x2000,  // with modeCreate: keep an existing file's contents
        modeCreateNew = 0x4000,   // with modeCreate: fail when the name is taken
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    virtual ~CFile();

    // Each operation that can fail says so by its result (false, or -1) and then fills `error`, when
    // given, with the Failure that says why.

    // A file opened for reading must be a regular file: a pipe or a device is refused without waiting
    // for a writer.
    virtual bool Open(const std::string& path, unsigned flags, Failure* error = nullptr);
    void Close();
    bool IsOpen() const { return m_hFile != kInvalidHandle; }
    const std::string& GetFilePath() const { return m_strPath; }

    // Reads until `count` bytes or the end of the file; returns the number read, -1 on an error.
    int64_t Read(void* buffer, size_t count, Failure* error = nullptr);
    // Writes all `count` bytes or fails.
    bool Write(const void* buffer, size_t count, Failure* error = nullptr);
    // Returns the new position, -1 on an error.
    int64_t Seek(int64_t offset, SeekPosition from, Failure* error = nullptr);
    int64_t GetPosition() const;
    int64_t GetLength() const;
    // Pushes the written bytes to the disk itself (fsync), so a later rename never exposes a half file.
    bool Flush(Failure* error = nullptr);

    // Takes an advisory lock on the open file without waiting; false when another holder has it. The lock
    // ends with the file's closing, also when the process is killed.
    bool TryLock(Failure* error = nullptr);
    // False once the file's name was removed.
    bool HasName() const;

  protected:
    static constexpr intptr_t kInvalidHandle = -1;

    // Fills error, when given, from the system's error of the call that just failed; returns false.
    bool Fail(const char* what, Failure* error) const;
    // A file opened for reading that is no regular file; closes it and returns false.
    bool NotRegular(Failure* error);

    intptr_t m_hFile = kInvalidHandle;
    std::string m_strPath;
};

}  // namespace korvel
