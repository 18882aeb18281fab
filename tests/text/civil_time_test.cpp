// SPDX-License-Identifier: MIT
// Dates and clock times as text, against instants whose calendar is known independently.
#include "text/civil_time.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel {
namespace {

TEST(CivilTimeText, KnownInstants) {
    struct Case {
        int64_t seconds;
        const char* clock;
        int64_t month_start;
    };
    const Case cases[] = {
        {0, "1970-01-01 00:00:00", 0},
        {-1, "1969-12-31 23:59:59", -2678400},
        {951782400, "2000-02-29 00:00:00", 949363200},  // a leap day of a year divisible by 400
        {1234567890, "2009-02-13 23:31:30", 1233446400},
        {2147483648, "2038-01-19 03:14:08", 2145916800},
        {253402300799, "9999-12-31 23:59:59", 253399622400},
        {253402300800, "10000-01-01 00:00:00", 253402300800},
    };
    for (const Case& c : cases) {
        const std::string clock = c.clock;
        EXPECT_EQ(ClockText(c.seconds), clock) << c.seconds;
        EXPECT_EQ(DateText(c.seconds), clock.substr(0, clock.size() - 9)) << c.seconds;
        EXPECT_EQ(UtcText(c.seconds),
                  clock.substr(0, clock.size() - 9) + 'T' + clock.substr(clock.size() - 8) + 'Z')
            << c.seconds;
        EXPECT_EQ(MonthStart(c.seconds), c.month_start) << c.seconds;
    }
}

TEST(CivilTimeText, Durations) {
    EXPECT_EQ(DurationText(0), "0:00:00");
    EXPECT_EQ(DurationText(3599), "0:59:59");
    EXPECT_EQ(DurationText(90061), "25:01:01");
}

}  // namespace
}  // namespace korvel
