// SPDX-License-Identifier: MIT
// The dialog takes every time it needs from here, so tests can set the clock.
#pragma once

#include <cstdint>

namespace korvel {

// Local date and time in the form GetLocalTime delivers it.
struct LocalTime {
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// Seconds by which local standard time is ahead of UTC at t: UTC broken down, then read back as if it
// were local time with daylight saving off, so the offset is that of standard time all year round.
// 0 when the runtime cannot tell.
int32_t StandardUtcOffset(int64_t t);

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime Local() const = 0;  // the PC's local time now
    virtual int64_t Now() const = 0;      // seconds since 1970, UTC
};

class SystemClock : public Clock {
  public:
    LocalTime Local() const override;
    int64_t Now() const override;
};

// A clock that stands still until a test moves it.
class FixedClock : public Clock {
  public:
    LocalTime local;
    int64_t now = 0;
    LocalTime Local() const override { return local; }
    int64_t Now() const override { return now; }
};

}  // namespace korvel
