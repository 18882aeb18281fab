// SPDX-License-Identifier: MIT
#include "support/vectors.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "support/paths.h"

namespace korvel::testing {

std::vector<VectorRow> ReadVectors(const std::string& name) {
    const std::string path = VectorsDir() + "/" + name;
    std::ifstream in(path);
    EXPECT_TRUE(in.is_open()) << "cannot read the test vectors " << path;
    std::vector<VectorRow> rows;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.empty() || line[0] == '#') continue;
        VectorRow row{number, {}};
        std::string field;
        std::istringstream fields(line);
        while (std::getline(fields, field, '\t')) row.fields.push_back(field);
        if (!line.empty() && line.back() == '\t') row.fields.emplace_back();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string HexBytes(const std::string& hex) {
    std::string out;
    std::istringstream in(hex);
    unsigned value = 0;
    while (in >> std::hex >> value) out.push_back(static_cast<char>(value));
    return out;
}

std::u16string HexUnits(const std::string& hex) {
    std::u16string out;
    std::istringstream in(hex);
    unsigned value = 0;
    while (in >> std::hex >> value) out.push_back(static_cast<char16_t>(value));
    return out;
}

}  // namespace korvel::testing
