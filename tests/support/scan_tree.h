// SPDX-License-Identifier: MIT
// The scan's tests: stored lines of product 0123 for a key, and the greatest key a folder tree holds
// with the files it could not read.
#pragma once

#include <string>
#include <vector>

#include "records/record_file.h"
#include "records/scan.h"
#include "support/temp_folder.h"
#include "text/utf8.h"

namespace korvel::testing {

// A stored line for the given key and product field.
inline std::string Line(const std::string& key, const std::string& product = "0123") {
    return MakeRecordLine(Utf8ToWide(key + "+08:00 125 " + product));
}

inline std::u16string W(const std::string& s) { return Utf8ToWide(s); }

inline std::u16string ScanTree(const TempFolder& folder, int n,
                               std::vector<std::u16string>* errors = nullptr) {
    std::u16string last;
    ScanFolder(folder.wide(), n, last, [&](const std::u16string& path) {
        if (errors) errors->push_back(path);
    });
    return last;
}

}  // namespace korvel::testing
