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

int32_t StandardUtcOffset(int64_t t) {
    const __time64_t when = t;
    std::tm broken{};
    if (_gmtime64_s(&broken, &when) != 0) return 0;
    broken.tm_isdst = 0;
    const __time64_t local = _mktime64(&broken);
    if (local == -1) return 0;
    return static_cast<int32_t>(when - local);
}

int64_t SystemClock::Now() const { return static_cast<int64_t>(_time64(nullptr)); }

}  // namespace korvel
