// SPDX-License-Identifier: MIT
// This computer's name, for the provenance of files and records.
#pragma once

#include <string>

namespace korvel {

// The computer's name as shown text; "unknown" when the system gives none.
std::string HostName();

}  // namespace korvel
