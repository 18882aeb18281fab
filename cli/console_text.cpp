// SPDX-License-Identifier: MIT
#include "console_text.h"

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

}  // namespace korvel::cli
