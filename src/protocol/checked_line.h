// SPDX-License-Identifier: MIT
// The checksummed line: its text, one space and the text's Crc16 as four lower-case hexadecimal digits,
// "2022-07-30 10:15:42 125 0123 cba8". The device sends its record and information lines so, and the
// record files store theirs so. Every reader and writer of that form (the framing, the scan, the record
// writer, verify, the simulator, the tests and benchmarks) uses these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

// The space and the four digits.
inline constexpr size_t kChecksumSuffixLength = 5;
// A record line begins with its timestamp key, "YYYY-MM-DD hh:mm:ss", compared as text.
inline constexpr size_t kTimestampKeyLength = 19;

// The value of a hexadecimal digit of either case; -1 for any other character.
constexpr int HexDigitValue(char32_t c) {
    if (c >= U'0' && c <= U'9') return static_cast<int>(c - U'0');
    if (c >= U'a' && c <= U'f') return static_cast<int>(c - U'a') + 10;
    if (c >= U'A' && c <= U'F') return static_cast<int>(c - U'A') + 10;
    return -1;
}

// The decimal number in text[at, at + count), every character a digit; -1 otherwise (also past the end).
constexpr int DecimalDigits(std::string_view text, size_t at, size_t count) {
    int value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Equal texts, compared in place a word at a time: for the few bytes of a field that is faster than a
// library call.
inline bool SameShortText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const char *p = a.data(), *q = b.data();
    size_t left = a.size();
    auto word = [](const char* at, auto bits) {
        std::memcpy(&bits, at, sizeof bits);
        return bits;
    };
    for (; left >= 8; left -= 8, p += 8, q += 8)
        if (word(p, uint64_t{}) != word(q, uint64_t{})) return false;
    if (left >= 4) {
        // The last four bytes overlap the four before them when fewer than eight are left.
        return word(p, uint32_t{}) == word(q, uint32_t{}) &&
               word(p + left - 4, uint32_t{}) == word(q + left - 4, uint32_t{});
    }
    for (; left > 0; --left)
        if (*p++ != *q++) return false;
    return true;
}

// A line cut before its suffix: the text, the character where the space belongs and the four digits.
template <typename Char>
struct ChecksumSplit {
    std::basic_string_view<Char> text;
    Char separator;
    std::basic_string_view<Char> digits;
    // The digits as the device reads them: a character that is no hexadecimal digit counts as 0.
    unsigned Expected() const {
        unsigned value = 0;
        for (Char c : digits) {
            const int digit = HexDigitValue(static_cast<char32_t>(c));
            value = (value << 4) | static_cast<unsigned>(digit < 0 ? 0 : digit);
        }
        return value;
    }
};

// nullopt when the line is too short to hold text and suffix (five characters or fewer).
std::optional<ChecksumSplit<char>> SplitChecksum(std::string_view line);
std::optional<ChecksumSplit<char16_t>> SplitChecksum(std::u16string_view line);

// True when the line is long enough and its last four characters, read as the device reads them, are
// the Crc16 of the UTF-8 text before the suffix. The separator is not looked at.
bool ChecksumHolds(std::string_view line);

// Appends " xxxx" for the Crc16 of everything in line so far.
void AppendChecksum(std::string& line);
// text followed by " xxxx".
std::string WithChecksum(std::string_view text);

}  // namespace korvel
