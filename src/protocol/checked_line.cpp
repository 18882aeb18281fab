// SPDX-License-Identifier: MIT
#include "protocol/checked_line.h"

#include "protocol/crc16.h"

namespace korvel {
namespace {

template <typename Char>
std::optional<ChecksumSplit<Char>> Split(std::basic_string_view<Char> line) {
    if (line.size() <= kChecksumSuffixLength) return std::nullopt;
    const size_t text = line.size() - kChecksumSuffixLength;
    return ChecksumSplit<Char>{line.substr(0, text), line[text], line.substr(text + 1)};
}

}  // namespace

std::optional<ChecksumSplit<char>> SplitChecksum(std::string_view line) { return Split(line); }
std::optional<ChecksumSplit<char16_t>> SplitChecksum(std::u16string_view line) { return Split(line); }

bool ChecksumHolds(std::string_view line) {
    const auto split = SplitChecksum(line);
    return split && Crc16(split->text) == split->Expected();
}

void AppendChecksum(std::string& line) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const unsigned crc = Crc16(line);
    line += ' ';
    for (int shift = 12; shift >= 0; shift -= 4) line += kDigits[(crc >> shift) & 0xF];
}

std::string WithChecksum(std::string_view text) {
    std::string line;
    line.reserve(text.size() + kChecksumSuffixLength + 1);
    line = text;
    AppendChecksum(line);
    return line;
}

}  // namespace korvel
