// SPDX-License-Identifier: MIT
// The release every program reports with --version: the project's version in CMakeLists.txt, the one
// the Debian changelog and the Windows resources carry too.
#pragma once

#include <string>

namespace korvel {

const char* KorvelVersion();  // "2.0.8"

// "PROGRAM VERSION", the first line of every program's --version.
inline std::string VersionLine(const std::string& program) { return program + " " + KorvelVersion(); }

}  // namespace korvel
