// SPDX-License-Identifier: MIT
#include "support/record_lines.h"

#include <chrono>
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
    // The clock time read as if it were UTC, so that stepping it never meets a change of offset.
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, se = 0;
    std::sscanf(start, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &se);
    using namespace std::chrono;
    const sys_seconds base =
        sys_days{year{y} / month{static_cast<unsigned>(mo)} / day{static_cast<unsigned>(d)}} + hours{h} +
        minutes{mi} + seconds{se};
    std::string lines;
    for (int i = 0; i < count; ++i) {
        const time_t t = system_clock::to_time_t(base + seconds{static_cast<int64_t>(i) * interval});
        const std::tm at = *std::gmtime(&t);  // the tests run these on one thread
        char clock[32];
        std::strftime(clock, sizeof clock, "%Y-%m-%d %H:%M:%S", &at);
        lines += RecordLine(std::string(clock) + offset + ' ' + std::to_string(value(i)) + ' ' + product);
    }
    return lines;
}

}  // namespace korvel::testing
