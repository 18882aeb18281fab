// SPDX-License-Identifier: MIT
#include "archive/running_summary.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "text/civil_time.h"

namespace korvel {
namespace {

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

std::optional<double> Finite(const DeviceArchive& device, const ArchiveRecord& record) {
    const std::optional<double> number = RecordNumber(device, record);
    if (number && std::isfinite(*number)) return number;
    return std::nullopt;
}

}  // namespace

std::vector<DaySummary> SummariseDays(const DeviceArchive& device, const std::vector<size_t>& order) {
    std::map<int64_t, DaySummary> days;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        const int64_t day = FloorDiv(record.utc + int64_t{record.offset} * 60, 86400);
        DaySummary& summary = days[day];
        ++summary.records;
        const std::optional<double> value = Finite(device, record);
        if (!value) continue;
        if (*value > 0) ++summary.running;
        if (!summary.has_highest || *value > summary.highest) {
            summary.has_highest = true;
            summary.highest = *value;
            summary.highest_at = index;
        }
    }
    std::vector<DaySummary> out;
    out.reserve(days.size());
    for (auto& [day, summary] : days) {
        summary.date = DateText(day * 86400);
        summary.running_seconds = static_cast<int64_t>(summary.running) * device.interval;
        out.push_back(std::move(summary));
    }
    return out;
}

std::vector<LimitPeriod> PeriodsAbove(const DeviceArchive& device, const std::vector<size_t>& order,
                                      double limit) {
    std::vector<LimitPeriod> periods;
    bool open = false;
    int64_t previous = 0;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        const std::optional<double> value = Finite(device, record);
        const bool joined = open && 2 * (record.utc - previous) <= 3 * device.interval;
        previous = record.utc;
        if (!value || !(*value > limit)) {
            open = false;
            continue;
        }
        if (!joined) {
            periods.push_back({index, index, 0, 0, *value, index});
            open = true;
        }
        LimitPeriod& period = periods.back();
        period.last = index;
        ++period.records;
        period.seconds = static_cast<int64_t>(period.records) * device.interval;
        if (*value > period.highest) {
            period.highest = *value;
            period.highest_at = index;
        }
    }
    return periods;
}

std::vector<size_t> HighestRecords(const DeviceArchive& device, const std::vector<size_t>& order,
                                   size_t count) {
    std::vector<std::pair<double, size_t>> values;  // value, position in order
    values.reserve(order.size());
    for (size_t i = 0; i < order.size(); ++i)
        if (const std::optional<double> value = Finite(device, device.records[order[i]]))
            values.push_back({*value, i});
    const size_t kept = std::min(count, values.size());
    std::partial_sort(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(kept), values.end(),
                      [](const auto& a, const auto& b) {
                          return a.first > b.first || (a.first == b.first && a.second < b.second);
                      });
    std::vector<size_t> out;
    for (size_t i = 0; i < kept; ++i) out.push_back(order[values[i].second]);
    return out;
}

}  // namespace korvel
