// SPDX-License-Identifier: MIT
// Reading the independent test vectors: tab-separated rows, "#" lines are headers.
#pragma once

#include <string>
#include <vector>

namespace korvel::testing {

struct VectorRow {
    int line = 0;                     // line number in the file, for failure messages
    std::vector<std::string> fields;  // the tab-separated fields, empty ones kept
};

// Rows of VectorsDir()/name; fails the calling test when the file cannot be read.
std::vector<VectorRow> ReadVectors(const std::string& name);

// "41 FF 42" -> the three bytes; "" -> no bytes.
std::string HexBytes(const std::string& hex);

// "0041 FFFD" -> the two UTF-16 units.
std::u16string HexUnits(const std::string& hex);

}  // namespace korvel::testing
