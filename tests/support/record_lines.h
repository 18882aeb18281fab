// SPDX-License-Identifier: MIT
// Stored record lines for planted archives, their times worked out by the C library's calendar (not
// by korvel's own).
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace korvel::testing {

// "YYYY-MM-DD hh:mm:ss+hh:mm value product" with its checksum and line end.
std::string RecordLine(const std::string& text);

// count lines `interval` seconds apart from the clock time `start` ("YYYY-MM-DD hh:mm:ss"), all with
// the offset given ("+08:00"); record i has the value value(i).
std::string ClockLines(const char* start, const char* offset, int count, const std::function<int(int)>& value,
                       const char* product = "0123", int interval = 121);

}  // namespace korvel::testing
