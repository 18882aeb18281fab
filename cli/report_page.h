// SPDX-License-Identifier: MIT
// The report: one HTML file with everything inline (script, style, data), so it opens anywhere, offline.
#pragma once

#include <string>
#include <string_view>

#include "records/archive.h"

#include "text/failure.h"

namespace korvel::cli {

std::string MakeReportPage(const Archive& archive, const DeviceArchive& device);

// Hands a file to the desktop's browser: kind None when that worked, else why not in the message. One
// file per OS.
Failure OpenInBrowser(const std::string& path);

// Built into the program from the npm package (see cli/CMakeLists.txt).
std::string_view UplotScript();
std::string_view UplotStyle();

}  // namespace korvel::cli
