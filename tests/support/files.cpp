// SPDX-License-Identifier: MIT
#include "support/files.h"

#include "ledger/ledger.h"
#include "text/safe_output.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvel::testing {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().filename() != kLedgerFileName)
            names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool WriteWhole(const std::string& path, const std::string& bytes, Failure* error) {
    SafeOutput out;
    return out.Open(path, error) && out.Write(bytes) && out.Commit(error);
}

}  // namespace korvel::testing
