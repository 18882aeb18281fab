// SPDX-License-Identifier: MIT
#include "views/archive_data.h"

#include <cmath>

#include "archive/running_summary.h"
#include "nlohmann/json.hpp"
#include "text/shown.h"

namespace korvel {
namespace {

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

// A text cell that a spreadsheet would take for a formula gets a leading apostrophe, as spreadsheet
// guidance recommends; numbers are written as they are.
void AppendCsvText(std::string& out, std::string_view field) {
    if (!field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos) {
        AppendCsvField(out, "'" + std::string(field));
        return;
    }
    AppendCsvField(out, field);
}

nlohmann::ordered_json Number(const DeviceArchive& device, size_t index) {
    const std::optional<double> number = RecordNumber(device, device.records[index]);
    if (!(device.records[index].flags & ArchiveRecord::kTextValue)) return device.records[index].value;
    return number ? nlohmann::ordered_json(*number) : nlohmann::ordered_json();
}

nlohmann::ordered_json DeviceJson(const Archive& archive, const DeviceArchive& device,
                                  const std::optional<double>& limit) {
    const auto& records = device.records;
    nlohmann::ordered_json j;
    j["product"] = device.product;
    j["complete"] = device.Complete();
    j["files"] = device.files.size();
    j["valid_lines"] = device.valid_lines;
    j["records"] = records.size();
    j["first"] = records.empty() ? nlohmann::ordered_json()
                                 : nlohmann::ordered_json(RecordIsoTime(records[device.earliest]));
    j["last"] = records.empty() ? nlohmann::ordered_json()
                                : nlohmann::ordered_json(RecordIsoTime(records[device.newest]));
    const nlohmann::ordered_json none;
    j["interval_seconds"] = device.HasInterval() ? nlohmann::ordered_json(device.interval) : none;
    j["gaps"] = nlohmann::ordered_json::array();
    for (const ArchiveGap& gap : device.gaps) {
        j["gaps"].push_back({{"start", RecordIsoTime(records[gap.before])},
                             {"end", RecordIsoTime(records[gap.after])},
                             {"missing", gap.missing}});
    }
    j["clock_set_backs"] = nlohmann::ordered_json::array();
    for (const ClockJump& jump : device.jumps) {
        j["clock_set_backs"].push_back({{"file", archive.files[jump.where.file].relative},
                                        {"line", jump.where.line},
                                        {"before", RecordIsoTime(records[jump.before])},
                                        {"after", RecordIsoTime(records[jump.after])}});
    }
    j["damaged_lines"] = nlohmann::ordered_json::array();
    for (const DamagedLine& line : device.damaged) {
        j["damaged_lines"].push_back({{"file", archive.files[line.where.file].relative},
                                      {"line", line.where.line},
                                      {"reason", line.reason}});
    }
    j["damaged_lines_unlisted"] = device.DamagedLines() - device.damaged.size();
    j["conflicting_records"] = nlohmann::ordered_json::array();
    for (const auto& [a, b] : device.conflicts) {
        j["conflicting_records"].push_back({{"time", RecordIsoTime(records[a])},
                                            {"file", archive.files[records[a].file].relative},
                                            {"other_file", archive.files[records[b].file].relative}});
    }
    j["unreadable"] = device.unreadable;
    // Records whose value is no number, each where it was first read, the value as written.
    j["no_number"] = nlohmann::ordered_json::array();
    for (const NoNumberLine& line : device.no_number) {
        std::string scratch;
        j["no_number"].push_back({{"file", archive.files[line.where.file].relative},
                                  {"line", line.where.line},
                                  {"time", RecordIsoTime(records[line.record])},
                                  {"value", Shown(RecordValue(device, records[line.record], scratch))}});
    }

    const std::vector<size_t> order = ChronologicalRecords(device, std::nullopt, std::nullopt);
    const std::vector<size_t> highest = HighestRecords(device, order, 1);
    j["highest"] = highest.empty()
                       ? nlohmann::ordered_json()
                       : nlohmann::ordered_json({{"value", Number(device, highest.front())},
                                                 {"time", RecordIsoTime(records[highest.front()])}});
    j["days"] = nlohmann::ordered_json::array();
    for (const DaySummary& day : SummariseDays(device, order)) {
        j["days"].push_back(
            {{"date", day.date},
             {"records", day.records},
             {"running_seconds", device.HasInterval() ? nlohmann::ordered_json(day.running_seconds) : none},
             {"highest", day.has_highest ? Number(device, day.highest_at) : nlohmann::ordered_json()},
             {"highest_time", day.has_highest ? nlohmann::ordered_json(RecordIsoTime(records[day.highest_at]))
                                              : nlohmann::ordered_json()}});
    }
    if (limit) {
        j["limit"] = *limit;
        j["periods_above_limit"] = nlohmann::ordered_json::array();
        for (const LimitPeriod& period : PeriodsAbove(device, order, *limit)) {
            j["periods_above_limit"].push_back(
                {{"start", RecordIsoTime(records[period.first])},
                 {"end", RecordIsoTime(records[period.last])},
                 {"records", period.records},
                 {"duration_seconds", device.HasInterval() ? nlohmann::ordered_json(period.seconds) : none},
                 {"highest", Number(device, period.highest_at)},
                 {"highest_time", RecordIsoTime(records[period.highest_at])}});
        }
    }
    return j;
}

}  // namespace

std::string ArchiveJson(const Archive& archive, const ArchiveJsonOptions& options) {
    nlohmann::ordered_json j;
    j[options.database ? "database" : "folder"] = Shown(archive.folder);
    j["complete"] = archive.Complete();
    j["files"] = archive.files.size();
    j["devices"] = nlohmann::ordered_json::array();
    for (const DeviceArchive& device : archive.devices)
        j["devices"].push_back(DeviceJson(archive, device, options.limit));
    j["unreadable"] = archive.problems;
    return j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

void WriteRecordsCsv(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                     std::ostream& out) {
    std::vector<std::string> files(archive.files.size());  // quoted once, on first use
    std::vector<std::string> spellings;
    for (const std::string& spelling : device.spellings) {
        spellings.emplace_back();
        AppendCsvField(spellings.back(), Shown(spelling));
    }
    std::string chunk = "time,value,product,file\r\n";
    std::string scratch;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        AppendRecordTime(chunk, record, 'T');
        chunk += ',';
        if (!(record.flags & ArchiveRecord::kTextValue)) {
            chunk += RecordValue(device, record, scratch);
        } else if (RecordNumber(device, record)) {
            AppendCsvField(chunk, RecordValue(device, record, scratch));
        } else {
            AppendCsvText(chunk, Shown(RecordValue(device, record, scratch)));
        }
        chunk += ',';
        chunk += spellings[record.spelling];
        chunk += ',';
        std::string& file = files[record.file];
        if (file.empty()) AppendCsvText(file, archive.files[record.file].relative);
        chunk += file;
        chunk += "\r\n";
        if (chunk.size() >= 1 << 16) {
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
            chunk.clear();
        }
    }
    out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
}

void WriteRecordsJson(const Archive& archive, const DeviceArchive& device, const std::vector<size_t>& order,
                      std::ostream& out) {
    std::string scratch;
    out << '[';
    bool first = true;
    for (size_t index : order) {
        const ArchiveRecord& record = device.records[index];
        nlohmann::ordered_json object;
        object["time"] = RecordIsoTime(record);
        if (!(record.flags & ArchiveRecord::kTextValue)) {
            object["value"] = record.value;
        } else if (const std::optional<double> number = RecordNumber(device, record);
                   number && std::isfinite(*number)) {
            object["value"] = *number;
        } else {
            // Also nan and inf: JSON has no such numbers, so they stay the text the device wrote.
            object["value"] = Shown(RecordValue(device, record, scratch));
        }
        object["product"] = Shown(device.spellings[record.spelling]);
        object["file"] = archive.files[record.file].relative;
        out << (first ? "\n" : ",\n") << object.dump();
        first = false;
    }
    out << (first ? "]\n" : "\n]\n");
}

}  // namespace korvel
