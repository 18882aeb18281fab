// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <string_view>

namespace korvel::testing {

// A new, empty folder in the system's temporary folder, named stem plus a random suffix; empty when
// none could be made.
std::string MakeTempDir(std::string_view stem);

}  // namespace korvel::testing
