// SPDX-License-Identifier: MIT
#include <ctime>

#include "platform/clock.h"

namespace korvel {

LocalTime SystemClock::Local() const {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return LocalTime{static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                     static_cast<unsigned>(tm.tm_mday),        static_cast<unsigned>(tm.tm_hour),
                     static_cast<unsigned>(tm.tm_min),         static_cast<unsigned>(tm.tm_sec)};
}

int32_t StandardUtcOffset(int64_t t) {
    const auto when = static_cast<std::time_t>(t);
    std::tm broken{};
    if (gmtime_r(&when, &broken) == nullptr) return 0;
    broken.tm_isdst = 0;
    const std::time_t local = std::mktime(&broken);
    if (local == static_cast<std::time_t>(-1)) return 0;
    return static_cast<int32_t>(when - local);
}

int64_t SystemClock::Now() const { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace korvel
