// SPDX-License-Identifier: MIT
#include <algorithm>
#include <vector>

#include "text/file_system.h"

namespace korvel {

void WalkFolder(const std::string& folder,
                const std::function<void(const std::string& path, const std::string& name)>& on_file,
                const std::function<void(const std::string& folder, const Failure& error)>& on_error) {
    std::vector<DirectoryEntry> entries;
    Failure error;
    if (!ListDirectory(folder, entries, &error)) {
        if (on_error) on_error(folder, error);
        return;
    }
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    const std::string_view separators = PathSeparators();
    const bool ends_in_separator =
        !folder.empty() && separators.find(folder.back()) != std::string_view::npos;
    const std::string prefix = ends_in_separator ? folder : folder + separators[0];
    for (const DirectoryEntry& entry : entries) {
        const std::string path = prefix + entry.name;
        if (entry.type == EntryType::kDirectory) {
            WalkFolder(path, on_file, on_error);
        } else if (entry.type == EntryType::kFile ||
                   (entry.type == EntryType::kSymlink && !IsDirectory(path))) {
            on_file(path, entry.name);
        }
    }
}

}  // namespace korvel
