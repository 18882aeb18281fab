// SPDX-License-Identifier: MIT
// The UTC offset the dialog shows, under time zones set through TZ.
// POSIX only: the offset follows TZ there; on Windows it follows the Windows time zone and TZ plays no
// part (tests/win).
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "support/dialog_rig.h"

namespace korvel {
namespace {

using testing::DialogRig;

// Sets TZ for one scope and puts the old value back.
class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

  private:
    std::optional<std::string> old_;
};

TEST(DeviceInfo, UtcOffsetOfStandardTime) {
    struct Case {
        const char* tz;
        int64_t now;
        std::u16string_view offset;
    };
    const int64_t winter = 1709622489;  // 2024-03-05
    const int64_t summer = 1720000000;  // 2024-07-03
    for (const Case& c : {Case{"CST-8", winter, u"+08:00"}, Case{"NST3:30", winter, u"-03:30"},
                          Case{"NPT-5:45", winter, u"+05:45"}, Case{"UTC0", winter, u"+00:00"},
                          Case{"IST-5:30", summer, u"+05:30"}, Case{"HST10", summer, u"-10:00"},
                          // daylight saving in force, but the offset stays that of standard time
                          Case{"EST5EDT,M3.2.0,M11.1.0", summer, u"-05:00"},
                          Case{"CET-1CEST,M3.5.0,M10.5.0/3", summer, u"+01:00"}}) {
        ScopedTimeZone zone(c.tz);
        DialogRig rig;
        rig.clock.now = c.now;
        rig.dlg.FormatUtcOffset();
        EXPECT_EQ(rig.dlg.m_strUtcOffset, c.offset) << c.tz;
    }
}

}  // namespace
}  // namespace korvel
