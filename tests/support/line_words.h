// SPDX-License-Identifier: MIT
// Looking at the device's lines from outside: their words, and whether their checksum suffix holds.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "protocol/checked_line.h"

namespace korvel::testing {

inline std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// True when the line ends in " xxxx" and xxxx is the Crc16 of the text before the space.
inline bool HasChecksumSuffix(const std::string& line) {
    const auto split = SplitChecksum(line);
    return split && split->separator == ' ' && ChecksumHolds(line);
}

}  // namespace korvel::testing
