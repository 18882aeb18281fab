// SPDX-License-Identifier: MIT
// What an inspector reads off a device's records: each day's running time and highest value, the
// periods above a permitted value, the highest values. Days are the records' own clock days, so a
// midnight splits them where the device's clock turned, whatever offset the lines carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive.h"
#include "text/civil_time.h"  // DurationText for the summaries' seconds

namespace korvel {

struct DaySummary {
    std::string date;          // "YYYY-MM-DD" by the records' own clock
    size_t records = 0;        // of that day
    size_t running = 0;        // of them with a value above 0
    int64_t running_seconds;   // running × the device's interval
    bool has_highest = false;  // false when no record of the day holds a finite number
    double highest = 0;
    size_t highest_at = 0;  // the first record of the day with that value (index into records)
};

// order: records oldest first (see ChronologicalRecords). Values that are no finite number count as
// records of their day, never as running or highest.
std::vector<DaySummary> SummariseDays(const DeviceArchive& device, const std::vector<size_t>& order);

// A run of records each above the limit with no gap between them (a gap is a step of more than 1.5
// intervals, as the plot breaks its line there).
struct LimitPeriod {
    size_t first = 0, last = 0;  // indices into records
    size_t records = 0;
    int64_t seconds = 0;  // records × the device's interval
    double highest = 0;
    size_t highest_at = 0;
};
std::vector<LimitPeriod> PeriodsAbove(const DeviceArchive& device, const std::vector<size_t>& order,
                                      double limit);

// The `count` records of the highest finite values, highest first; equal values oldest first.
std::vector<size_t> HighestRecords(const DeviceArchive& device, const std::vector<size_t>& order,
                                   size_t count);

}  // namespace korvel
