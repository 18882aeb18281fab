// SPDX-License-Identifier: MIT
// The text file class on arbitrary file contents: the byte-order mark, the encoding verdict, the data
// tag and the position it leaves. One first byte in eight pads the file so the end of the looked-at part is
// within reach.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "text/unifile.h"
#include "text/utf8.h"

using korvel::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::string bytes;
    if ((data[0] & 7) == 7) bytes.assign(korvel::CUniFile::kSniffBufferSize - 1 - (data[0] >> 3), 'a');
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    const korvel::fuzz::MemoryFile memory(bytes);

    korvel::CUniFile file;
    Check(file.Open(memory.Path(), korvel::CFile::modeRead));

    const std::string looked_at = bytes.substr(0, korvel::CUniFile::kSniffBufferSize - 1);
    const std::string up_to_zero = looked_at.substr(0, looked_at.find('\0'));
    Check(file.m_bHasDataTag == (up_to_zero.find("<DATA>") != std::string::npos));

    const bool utf8_mark = bytes.starts_with("\xEF\xBB\xBF");
    const bool be_mark = bytes.starts_with("\xFE\xFF");
    const bool le_mark = bytes.starts_with("\xFF\xFE");
    Check(file.m_nBomLength == (utf8_mark ? 3 : (be_mark || le_mark) ? 2 : 0));
    Check(file.m_bBigEndian == be_mark);
    if (utf8_mark) {
        Check(file.m_bUtf8);
    } else if (be_mark || le_mark) {
        Check(!file.m_bUtf8);
    } else {
        Check(file.m_bUtf8 == korvel::IsValidUtf8(up_to_zero.c_str()));
    }

    // The reader starts just past the mark and reads the rest unchanged.
    Check(file.GetPosition() == file.m_nBomLength);
    std::string rest(bytes.size(), '\0');
    const int64_t got = file.Read(rest.data(), rest.size());
    Check(got == static_cast<int64_t>(bytes.size()) - file.m_nBomLength);
    Check(std::memcmp(rest.data(), bytes.data() + file.m_nBomLength, static_cast<size_t>(got)) == 0);
    return 0;
}
