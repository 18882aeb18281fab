// SPDX-License-Identifier: MIT
#include "records/record_tree.h"

#include <algorithm>
#include <vector>

#include "text/file_system.h"

namespace korvel {
namespace {

void Walk(const std::string& folder, const std::string& relative, const RecordTreeVisitor& visitor) {
    std::vector<DirectoryEntry> entries;
    Failure error;
    const char separator = PathSeparators()[0];
    if (!ListDirectory(folder.empty() ? std::string(1, separator) : folder, entries, &error)) {
        if (visitor.on_unreadable) visitor.on_unreadable(folder, error);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    // A drive's root ("Z:\\", "/") already ends in its separator.
    const bool ends_in_separator =
        !folder.empty() && PathSeparators().find(folder.back()) != std::string_view::npos;
    const std::string prefix = folder.empty()      ? std::string(1, separator)
                               : ends_in_separator ? folder
                                                   : folder + separator;
    for (const DirectoryEntry& entry : entries) {
        const std::string path = prefix + entry.name;
        const std::string rel = relative.empty() ? entry.name : relative + "/" + entry.name;
        if (entry.type == EntryType::kDirectory) {
            Walk(path, rel, visitor);
            continue;
        }
        if (entry.type == EntryType::kOther || !visitor.wanted(entry.name)) continue;
        if (entry.type == EntryType::kSymlink && IsDirectory(path)) continue;
        visitor.on_file(path, rel);
    }
}

}  // namespace

void WalkRecordTree(const std::string& folder, const RecordTreeVisitor& visitor) {
    Walk(folder, "", visitor);
}

}  // namespace korvel
