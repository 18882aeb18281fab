// SPDX-License-Identifier: MIT
#include <ctime>

#include "app/clock.h"

namespace korvel {

LocalTime SystemClock::Local() const {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return LocalTime{static_cast<unsigned>(tm.tm_year + 1900), static_cast<unsigned>(tm.tm_mon + 1),
                     static_cast<unsigned>(tm.tm_mday),        static_cast<unsigned>(tm.tm_hour),
                     static_cast<unsigned>(tm.tm_min),         static_cast<unsigned>(tm.tm_sec)};
}

int64_t SystemClock::Now() const { return static_cast<int64_t>(std::time(nullptr)); }

}  // namespace korvel
