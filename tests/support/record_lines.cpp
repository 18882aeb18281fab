// SPDX-License-Identifier: MIT
#include "support/record_lines.h"

#include <cstdio>

#include "protocol/crc16.h"

namespace korvel::testing {

std::string RecordLine(const std::string& text) {
    char crc[8];
    std::snprintf(crc, sizeof crc, " %04x\n", Crc16(text));
    return text + crc;
}

std::string ClockLines(const char* start, const char* offset, int count, const std::function<int(int)>& value,
                       const char* product, int interval) {
    std::tm tm{};
    strptime(start, "%Y-%m-%d %H:%M:%S", &tm);
    const time_t base = timegm(&tm);
    std::string lines;
    for (int i = 0; i < count; ++i) {
        const time_t t = base + static_cast<time_t>(i) * interval;
        std::tm at{};
        gmtime_r(&t, &at);
        char clock[32];
        std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &at);
        lines += RecordLine(std::string(clock) + offset + ' ' + std::to_string(value(i)) + ' ' + product);
    }
    return lines;
}

}  // namespace korvel::testing
