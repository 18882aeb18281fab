// SPDX-License-Identifier: MIT
// Checks saved record files line by line, as a person auditing an archive would.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace korvel::cli {

struct VerifySummary {
    size_t files = 0;
    size_t lines = 0;
    size_t problems = 0;
    size_t no_number = 0;  // record lines whose value is no number ("nan", "inf", words): told, not problems
};

// Verifies the files named and every record file found below the folders named (directory links are
// not followed). Each problem goes to out as "path:line: reason" (or "path: reason" for the whole
// file), then one summary line.
VerifySummary VerifyPaths(const std::vector<std::string>& paths, std::ostream& out);

// Verifies the content of one record file as VerifyPaths does for a file it has read; path names it in
// the problems, product is what its name carries. Returns the lines checked and the problems found.
VerifySummary VerifyContent(const std::string& path, std::string_view content,
                            std::optional<uint32_t> product, std::ostream& out);

}  // namespace korvel::cli
