// SPDX-License-Identifier: MIT
// A fresh temporary folder, removed with everything in it afterwards (folders a test made unreadable
// included).
#pragma once

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/files.h"
#include "support/temp_dir.h"

namespace korvel::testing {

class TempFolder {
  public:
    TempFolder() { path_ = MakeTempDir("korvel-test"); }
    ~TempFolder() {
        std::error_code ignored;
        // Restore write permission that a test took away, so that everything can be removed.
        for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::u16string wide() const { return {path_.begin(), path_.end()}; }  // the paths here are ASCII
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    std::string Write(const std::string& relative, const std::string& bytes) const {
        std::filesystem::path file = std::filesystem::path(path_) / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << bytes;
        return file.string();
    }
    std::string Read(const std::string& relative) const {
        return ReadFile((std::filesystem::path(path_) / relative).string());
    }
    // Names of the entries directly in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::string path_;
};

}  // namespace korvel::testing
