// SPDX-License-Identifier: MIT
// The one place where a UTF-8 path becomes what the operating system takes, and back. On Windows the
// path is built from its UTF-16 form (a narrow path would go through the ANSI code page and lose every
// character outside it, a Chinese user name for one); elsewhere the bytes are the path.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvel {

std::filesystem::path OsPath(std::string_view utf8);
std::string Utf8Path(const std::filesystem::path& path);

}  // namespace korvel
