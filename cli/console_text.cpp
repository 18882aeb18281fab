// SPDX-License-Identifier: MIT
#include "console_text.h"

#include <algorithm>

#include "text/utf8.h"

namespace korvel::cli {

size_t CompleteUtf8Length(std::string_view bytes) {
    // A sequence is at most 4 bytes long: only the last 3 can belong to an unfinished one.
    const size_t size = bytes.size();
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto c = static_cast<unsigned char>(bytes[size - back]);
        if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back for its lead
        const size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 1;
        return length > back && c < 0xF5 ? size - back : size;
    }
    return size;
}

std::string WithCarriageReturns(std::string_view text, bool& after_cr) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n' && !after_cr) out += '\r';
        out += c;
        after_cr = c == '\r';
    }
    return out;
}

size_t ConsoleColumns(std::string_view text) {
    size_t columns = 0;
    for (const char16_t unit : Utf8ToWide(text)) {
        if (unit < 0x20 || unit == 0x7F || (unit >= 0xDC00 && unit <= 0xDFFF)) continue;  // low surrogates
        const bool wide = (unit >= 0x1100 && unit <= 0x115F) || (unit >= 0x2E80 && unit <= 0xA4CF) ||
                          (unit >= 0xAC00 && unit <= 0xD7A3) || (unit >= 0xF900 && unit <= 0xFAFF) ||
                          (unit >= 0xFE30 && unit <= 0xFE4F) || (unit >= 0xFF00 && unit <= 0xFF60) ||
                          (unit >= 0xFFE0 && unit <= 0xFFE6);
        columns += wide ? 2 : 1;
    }
    return columns;
}

std::string BlankedLine(size_t columns) {
    return "\r" + std::string(std::min<size_t>(columns, 79), ' ') + "\r";
}

}  // namespace korvel::cli
