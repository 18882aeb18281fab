// SPDX-License-Identifier: MIT
#include "text/os_path.h"

#include "text/wide_win.h"

namespace korvel {

std::filesystem::path OsPath(std::string_view utf8) { return std::filesystem::path(ToWide(utf8)); }

std::string Utf8Path(const std::filesystem::path& path) { return ToUtf8(path.native()); }

}  // namespace korvel
