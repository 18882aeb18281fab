// SPDX-License-Identifier: MIT
#include "archive/running_summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

namespace korvel {
namespace {

// The civil date of a day count since 1970-01-01 (proleptic Gregorian calendar).
std::string DateText(int64_t days) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day));
    return text;
}

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
        summary.date = DateText(day);
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

std::string ClockText(int64_t seconds) {
    const int64_t day = FloorDiv(seconds, 86400);
    const int64_t in_day = seconds - day * 86400;
    char text[16];
    std::snprintf(text, sizeof text, " %02d:%02d:%02d", static_cast<int>(in_day / 3600),
                  static_cast<int>(in_day / 60 % 60), static_cast<int>(in_day % 60));
    return DateText(day) + text;
}

std::string DurationText(int64_t seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace korvel
