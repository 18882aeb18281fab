// SPDX-License-Identifier: MIT
// Record files as downloads leave them, written by the tests: lines "YYYY-MM-DD hh:mm:ss+08:00 VALUE
// PRODUCT xxxx" (121 s apart from a fixed start, or from a clock time of the case's own), and the file
// names the archive takes. Times come from the standard library's calendar, not from korvel's own.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

#include "protocol/crc16.h"

namespace korvel::testing {

// Record number seq of a device: 2024-01-31 00:00:00 UTC + seq × 121 s, written at +08:00, so the
// records of a few thousand cross into February.
inline std::string RecordLine(int64_t seq, const std::string& product = "0123", int64_t value = -1) {
    const std::time_t utc = static_cast<std::time_t>(1706659200 + seq * 121 + 8 * 3600);
    const std::tm t = *std::gmtime(&utc);  // the tests run these on one thread
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d+08:00 %lld %s", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec,
                  static_cast<long long>(value < 0 ? seq % 600 : value), product.c_str());
    char line[128];
    std::snprintf(line, sizeof line, "%s %04x\n", text, Crc16(std::string(text)));
    return line;
}

// Records first .. last (both included).
inline std::string RecordLines(int64_t first, int64_t last, const std::string& product = "0123") {
    std::string lines;
    for (int64_t seq = first; seq <= last; ++seq) lines += RecordLine(seq, product);
    return lines;
}

// The name a download of product n at 2024-03-DD hh:mm:ss gets; later k give later names.
inline std::string RecordFileName(int k, unsigned n = 123) {
    char name[64];
    std::snprintf(name, sizeof name, "2403%02d-%02d%02d%02d-%u-%x.txt", 1 + k / 86400, k / 3600 % 24,
                  k / 60 % 60, k % 60, n, n);
    return name;
}

// "YYYY-MM-DD hh:mm:ss+hh:mm value product" with its checksum and line end.
std::string RecordLine(const std::string& text);

// count lines `interval` seconds apart from the clock time `start` ("YYYY-MM-DD hh:mm:ss"), all with
// the offset given ("+08:00"); record i has the value value(i).
std::string ClockLines(const char* start, const char* offset, int count, const std::function<int(int)>& value,
                       const char* product = "0123", int interval = 121);

}  // namespace korvel::testing
