// SPDX-License-Identifier: MIT
#include "text/unifile.h"

#include <cstring>
#include <memory>
#include <string_view>

#include "text/utf8.h"

namespace korvel {

bool CUniFile::Open(const std::string& path, unsigned flags, Failure* error) {
    if (!CFile::Open(path, flags, error)) return false;
    if (flags & modeCreate) return true;

    const auto buffer = std::make_unique<char[]>(kSniffBufferSize);
    const int64_t got = Read(buffer.get(), kSniffBufferSize - 1, error);
    if (got < 0) {
        Close();
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.get());
    buffer[got] = '\0';

    const std::string_view text(buffer.get());  // up to the first zero byte
    m_bHasDataTag = text.find("<DATA>") != std::string_view::npos;

    if (got >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        m_bUtf8 = true;
        m_nBomLength = 3;
    } else if (got >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        m_bBigEndian = true;
        m_nBomLength = 2;
    } else if (got >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        m_bBigEndian = false;
        m_nBomLength = 2;
    } else {
        m_nBomLength = 0;
        m_bUtf8 = IsValidUtf8(buffer.get());
    }
    // The callers read the text from the current position: leave it just past the mark.
    if (Seek(m_nBomLength, begin, error) < 0) {
        Close();
        return false;
    }
    return true;
}

}  // namespace korvel
