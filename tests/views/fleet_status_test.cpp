// SPDX-License-Identifier: MIT
// What the fleet estimates for a recorder, worked out per case from the ring's 32,768 slots: the oldest
// record not downloaded goes when 32,768 records are taken after the newest saved one.
#include "views/fleet_page.h"

#include <gtest/gtest.h>

namespace korvel::testing {
namespace {

TEST(AssessFleetDevice, TheRingTurnsAtTheRecordersOwnInterval) {
    constexpr int64_t kLast = 1710000000;
    struct Case {
        int64_t now, interval;
        int64_t pending, lost, overwritten;
    };
    const Case cases[] = {
        {kLast, 60, 0, 0, kLast + 32768 * 60},           // nothing taken since
        {kLast + 600, 60, 10, 0, kLast + 32768 * 60},    // ten taken: the day stays
        {kLast - 3600, 121, 0, 0, kLast + 32768 * 121},  // the newest is later than now
        {kLast + 40000 * 121, 121, 32767, 40000 - 32767, kLast + 40000 * 121 + 121},  // the ring turned
    };
    for (const Case& c : cases) {
        FleetDevice device;
        device.records = 100;
        device.last_utc = kLast;
        device.interval = c.interval;
        const FleetStatus row = AssessFleetDevice(device, c.now, 7);
        EXPECT_TRUE(row.estimated);
        EXPECT_EQ(row.pending, c.pending) << c.now;
        EXPECT_EQ(row.lost, c.lost) << c.now;
        EXPECT_EQ(row.overwritten, c.overwritten) << c.now;
    }
}

}  // namespace
}  // namespace korvel::testing
