// SPDX-License-Identifier: MIT
#include "text/os_path.h"

namespace korvel {

std::filesystem::path OsPath(std::string_view utf8) { return std::filesystem::path(std::string(utf8)); }

std::string Utf8Path(const std::filesystem::path& path) { return path.native(); }

}  // namespace korvel
