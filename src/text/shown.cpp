// SPDX-License-Identifier: MIT
#include "text/shown.h"

#include <algorithm>
#include <cstdio>

#include "text/utf8.h"

namespace korvel {
namespace {

// The length of the well-formed UTF-8 sequence at the start of bytes, 0 when there is none.
size_t SequenceLength(std::string_view bytes) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned lead = b(0);
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || bytes.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((b(i) & 0xC0) != 0x80) return 0;
    // No overlong forms, no surrogates, nothing above U+10FFFF.
    if (lead == 0xE0 && b(1) < 0xA0) return 0;
    if (lead == 0xED && b(1) >= 0xA0) return 0;
    if (lead == 0xF0 && b(1) < 0x90) return 0;
    if (lead == 0xF4 && b(1) >= 0x90) return 0;
    return length;
}

bool Printable(char c) {
    return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F;
}

}  // namespace

std::string Shown(std::string_view bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), Printable)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    while (!bytes.empty()) {
        const size_t length = SequenceLength(bytes);
        const auto lead = static_cast<unsigned char>(bytes[0]);
        // C0 controls, DEL, and C1 controls (U+0080..U+009F, encoded C2 80..C2 9F).
        const bool control = length == 1
                                 ? lead < 0x20 || lead == 0x7F
                                 : length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[1]) < 0xA0;
        if (length != 0 && !control) {
            out.append(bytes.substr(0, length));
            bytes.remove_prefix(length);
            continue;
        }
        const size_t escaped = length == 0 ? 1 : length;
        for (size_t i = 0; i < escaped; ++i) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(bytes[i]));
            out += hex;
        }
        bytes.remove_prefix(escaped);
    }
    return out;
}

std::string Shown(std::u16string_view text) {
    std::string out;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
        if (!surrogate && c >= 0x20 && (c < 0x7F || c > 0x9F)) continue;
        out += WideToUtf8(text.substr(start, i - start));
        char escaped[16];
        std::snprintf(escaped, sizeof escaped, surrogate ? "\\u{%04x}" : "\\x%02x", static_cast<unsigned>(c));
        out += escaped;
        start = i + 1;
    }
    out += WideToUtf8(text.substr(start));
    return out;
}

}  // namespace korvel
