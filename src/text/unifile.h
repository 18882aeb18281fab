// SPDX-License-Identifier: MIT
// The file class of the record files: opened for reading, it notes how the file is encoded.
#pragma once

#include <cstddef>

#include "text/cfile.h"

namespace korvel {

class CUniFile : public CFile {
  public:
    static constexpr size_t kSniffBufferSize = 62000;  // one byte stays free for the terminating zero

    // As CFile::Open; a read-mode open also looks at the first 61999 bytes. Afterwards the position is
    // just past a byte-order mark, or at the first byte when there is none.
    bool Open(const std::string& path, unsigned flags, Failure* error = nullptr) override;

    bool m_bHasDataTag = false;  // the bytes read contain "<DATA>"
    bool m_bUtf8 = false;        // UTF-8 mark, or without a mark: the bytes pass IsValidUtf8
    int m_nBomLength = 0;        // 3 for the UTF-8 mark, 2 for either UTF-16 mark, 0 for none
    bool m_bBigEndian = false;   // FE FF; unchanged unless a UTF-16 mark was found
};

}  // namespace korvel
