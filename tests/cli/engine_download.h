// SPDX-License-Identifier: MIT
// The reference: a download made by the dialog engine in this process, driven the way the window
// drives it (first tick opens the port, "读信息", then "读数据"), for comparing files byte by byte.
#pragma once

#include <string>

namespace korvel::testing {

// Downloads from the device at port into folder; returns the full path of the file written, or empty
// when the download did not end with a file.
std::string EngineDownload(const std::string& port, const std::string& folder);

}  // namespace korvel::testing
