// SPDX-License-Identifier: MIT
// Civil calendar arithmetic (proleptic Gregorian) for the device's clock times, which carry no time zone:
// days since 1970-01-01 and back, leap years, month lengths; and those times as text, the one way korvel
// writes a date or a clock time.
#pragma once

#include <cstdint>
#include <string>

namespace korvel {

struct CivilTime {
    int64_t year;
    unsigned month, day, hour, minute, second;
};

constexpr bool IsLeapYear(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

// month 1..12
constexpr unsigned DaysInMonth(int64_t y, unsigned m) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[(m - 1) % 12];
}

// Days since 1970-01-01 of a date.
constexpr int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The date and time of seconds since 1970-01-01 00:00 (of the same clock).
constexpr CivilTime CivilFromSeconds(int64_t seconds) {
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int64_t>(yoe) + era * 400 + (m <= 2),
            m,
            d,
            static_cast<unsigned>(rest / 3600),
            static_cast<unsigned>(rest / 60 % 60),
            static_cast<unsigned>(rest % 60)};
}

// The first second of the month that holds `seconds`.
constexpr int64_t MonthStart(int64_t seconds) {
    const CivilTime c = CivilFromSeconds(seconds);
    return DaysFromCivil(c.year, c.month, 1) * 86400;
}

// Appends "YYYY-MM-DD", then `separator` and "hh:mm:ss" of seconds since 1970-01-01 00:00 of one clock
// (no offset is added); the year has at least four digits.
void AppendClockText(std::string& out, int64_t seconds, char separator);
// "YYYY-MM-DD hh:mm:ss", as a clock reads them.
std::string ClockText(int64_t seconds);
// "YYYY-MM-DD", the day that holds them.
std::string DateText(int64_t seconds);
// "YYYY-MM-DDThh:mm:ssZ", of seconds since 1970 UTC.
std::string UtcText(int64_t utc);
// "h:mm:ss", hours as many as it takes.
std::string DurationText(int64_t seconds);

}  // namespace korvel
