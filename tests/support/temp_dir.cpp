// SPDX-License-Identifier: MIT
#include "support/temp_dir.h"

#include <filesystem>
#include <random>

namespace korvel::testing {

std::string MakeTempDir(std::string_view stem) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    if (ec) return {};
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path dir = base / (std::string(stem) + "-" + std::to_string(random() % 1000000000));
        // create_directory is false for a folder that exists already: nobody else's folder is taken.
        if (fs::create_directory(dir, ec)) return dir.string();
    }
    return {};
}

}  // namespace korvel::testing
