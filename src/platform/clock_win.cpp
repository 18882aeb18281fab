// SPDX-License-Identifier: MIT
#include <windows.h>

#include <ctime>

#include "platform/clock.h"

namespace korvel {

LocalTime SystemClock::Local() const {
    SYSTEMTIME st{};
    GetLocalTime(&st);
    return LocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
}

// From the Windows time zone, the one GetLocalTime follows (a TZ variable that the C runtime would
// honour plays no part): its bias for standard time in the year of t.
int32_t StandardUtcOffset(int64_t t) {
    const __time64_t when = t;
    std::tm broken{};
    TIME_ZONE_INFORMATION zone{};
    const bool found =
        _gmtime64_s(&broken, &when) == 0
            ? GetTimeZoneInformationForYear(static_cast<USHORT>(broken.tm_year + 1900), nullptr, &zone)
            : GetTimeZoneInformation(&zone) != TIME_ZONE_ID_INVALID;
    if (!found) return 0;
    return -static_cast<int32_t>(zone.Bias + zone.StandardBias) * 60;
}

int64_t SystemClock::Now() const { return static_cast<int64_t>(_time64(nullptr)); }

}  // namespace korvel
