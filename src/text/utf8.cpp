// SPDX-License-Identifier: MIT
#include "text/utf8.h"

#include <cstdint>
#include <cstring>

namespace korvel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

struct Decoded {
    int length;  // bytes consumed: the whole sequence, or its maximal subpart when invalid
    bool valid;
    char32_t code_point;
};

// Decodes one sequence at p (p < end). An ill-formed sequence consumes only its maximal subpart, the
// longest prefix that could still start a well-formed sequence, so one bad byte never hides the next
// character.
inline Decoded DecodeOne(const uint8_t* p, const uint8_t* end) {
    const uint8_t lead = p[0];
    if (lead < 0x80) return {1, true, lead};
    int trail;
    uint8_t low = 0x80;
    uint8_t high = 0xBF;
    char32_t cp;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trail = 1;
        cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trail = 2;
        cp = lead & 0x0Fu;
        if (lead == 0xE0) low = 0xA0;   // overlong otherwise
        if (lead == 0xED) high = 0x9F;  // surrogates otherwise
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trail = 3;
        cp = lead & 0x07u;
        if (lead == 0xF0) low = 0x90;   // overlong otherwise
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF otherwise
    } else {
        return {1, false, kReplacement};
    }
    for (int i = 1; i <= trail; ++i) {
        if (p + i == end || p[i] < low || p[i] > high) return {i, false, kReplacement};
        cp = (cp << 6) | (p[i] & 0x3Fu);
        low = 0x80;
        high = 0xBF;
    }
    return {trail + 1, true, cp};
}

inline bool IsAcceptedSingleByte(uint8_t b) {
    return b == 0x09 || b == 0x0A || b == 0x0D || (b >= 0x20 && b <= 0x7E);
}

}  // namespace

std::string WideToUtf8(std::u16string_view text) {
    const size_t nul = text.find(u'\0');
    if (nul != std::u16string_view::npos) text = text.substr(0, nul);
    std::string out(text.size() * 3, '\0');  // one unit never needs more than three bytes
    char* o = out.data();
    const auto put = [&o](unsigned v) { *o++ = static_cast<char>(v); };
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            const bool paired =
                cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
            if (paired) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else {
                cp = kReplacement;
            }
        }
        if (cp < 0x80) {
            put(cp);
        } else if (cp < 0x800) {
            put(0xC0 | (cp >> 6));
            put(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            put(0xE0 | (cp >> 12));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        } else {
            put(0xF0 | (cp >> 18));
            put(0x80 | ((cp >> 12) & 0x3F));
            put(0x80 | ((cp >> 6) & 0x3F));
            put(0x80 | (cp & 0x3F));
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::u16string Utf8ToWide(std::string_view bytes) {
    if (const void* nul = std::memchr(bytes.data(), 0, bytes.size())) {
        bytes = bytes.substr(0, static_cast<size_t>(static_cast<const char*>(nul) - bytes.data()));
    }
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const uint8_t* const end = p + bytes.size();
    std::u16string out(bytes.size(), u'\0');  // never more units than bytes
    char16_t* o = out.data();
    while (p != end) {
        if (*p < 0x80) {
            *o++ = *p++;
            continue;
        }
        const Decoded d = DecodeOne(p, end);
        p += d.length;
        if (d.code_point >= 0x10000) {
            *o++ = static_cast<char16_t>(0xD800 + ((d.code_point - 0x10000) >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + ((d.code_point - 0x10000) & 0x3FF));
        } else {
            *o++ = static_cast<char16_t>(d.code_point);
        }
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

bool IsValidUtf8(const char* p) {
    if (p == nullptr) return false;
    const auto* b = reinterpret_cast<const uint8_t*>(p);
    const uint8_t* const end = b + std::strlen(p);
    while (b != end) {
        if (*b < 0x80) {
            if (!IsAcceptedSingleByte(*b)) return false;
            ++b;
            continue;
        }
        const Decoded d = DecodeOne(b, end);
        if (!d.valid) return false;
        b += d.length;
    }
    return true;
}

bool HoldsAsText(std::string_view bytes) {
    return bytes.find('\0') == std::string_view::npos && WideToUtf8(Utf8ToWide(bytes)) == bytes;
}

}  // namespace korvel
