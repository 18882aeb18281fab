// SPDX-License-Identifier: MIT
#include "support/paths.h"

#include <filesystem>

namespace korvel::testing {

std::string SimulatorPath() { return KORVEL_SIM_PATH; }

// The vectors sit beside the clone (../shared/vectors); a worktree nested deeper finds them in an
// enclosing folder instead.
std::string VectorsDir() {
    namespace fs = std::filesystem;
    const fs::path beside = fs::path(KORVEL_VECTORS_DIR).lexically_normal();
    std::error_code ec;
    if (fs::is_directory(beside, ec)) return beside.string();
    for (fs::path dir = beside.parent_path().parent_path(); dir.has_relative_path();
         dir = dir.parent_path()) {
        if (fs::is_directory(dir.parent_path() / "shared" / "vectors", ec))
            return (dir.parent_path() / "shared" / "vectors").string();
    }
    return beside.string();
}

std::string BinaryDir() { return KORVEL_BINARY_DIR; }

}  // namespace korvel::testing
