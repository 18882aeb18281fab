// SPDX-License-Identifier: MIT
#include "archive_text.h"

#include <cstdio>

#include "records/record_line.h"
#include "records/running_summary.h"
#include "text/shown.h"

namespace korvel {
namespace {

std::string Where(const Archive& archive, const ArchiveLine& where) {
    return archive.files[where.file].relative + ':' + std::to_string(where.line);
}

}  // namespace

std::string IncompleteText(const DeviceArchive& device) {
    std::string text;
    auto add = [&](size_t count, const char* one, const char* many) {
        if (count == 0) return;
        if (!text.empty()) text += ", ";
        text += Plural(count, one, many);
    };
    add(device.gaps.size(), "gap", "gaps");
    add(device.jumps.size(), "clock set-back", "clock set-backs");
    add(device.DamagedLines(), "damaged line", "damaged lines");
    add(device.conflicts.size(), "conflicting record", "conflicting records");
    add(device.unreadable.size(), "unreadable file", "unreadable files");
    return text;
}

namespace {

// What the ring probably still holds, as if the device kept recording since its newest saved record.
std::string PendingAt(const DeviceArchive& device, int64_t now) {
    if (device.records.empty()) return "unknown: no record";
    const ArchiveRecord& newest = device.records[device.newest];
    const int64_t local_now = now + int64_t{newest.offset} * 60;
    const std::string clock = ClockText(local_now);
    const std::optional<PendingRecords> pending =
        EstimatePending(RecordTimestamp(newest).substr(0, 19), clock, 32767, device.interval);
    if (!pending) return "unknown: the newest record is later than this computer's clock";
    std::string text = "\u2248 " + Plural(static_cast<size_t>(pending->records), "record", "records") +
                       " not yet downloaded";
    if (pending->lost > 0) {
        text += "; about " + std::to_string(pending->lost) + " already overwritten, download soon";
    } else if (pending->records > 0) {
        text += "; the oldest is overwritten about " + DateAfter(clock, pending->days);
    }
    return text;
}

void AppendDevice(std::string& out, const Archive& archive, const DeviceArchive& device,
                  const ArchiveTextOptions& options) {
    const auto& records = device.records;
    out += "product " + std::to_string(device.product) + '\n';
    out += "  files: " + std::to_string(device.files.size()) + '\n';
    out += "  valid lines: " + std::to_string(device.valid_lines) + '\n';
    out += "  records: " + std::to_string(records.size()) + '\n';
    if (!records.empty()) {
        out += "  first: " + RecordTimestamp(records[device.earliest]) + '\n';
        out += "  last: " + RecordTimestamp(records[device.newest]) + '\n';
    }
    out += "  interval: " + std::to_string(device.interval) + " s\n";
    if (options.now) out += "  pending: " + PendingAt(device, *options.now) + '\n';
    out += "  gaps: " + std::to_string(device.gaps.size()) + '\n';
    for (const ArchiveGap& gap : device.gaps) {
        out += "    " + RecordTimestamp(records[gap.before]) + " to " + RecordTimestamp(records[gap.after]) +
               ": " + Plural(static_cast<size_t>(gap.missing), "record", "records") + " missing\n";
    }
    out += "  clock set back: " + std::to_string(device.jumps.size()) + '\n';
    for (const ClockJump& jump : device.jumps) {
        out += "    " + Where(archive, jump.where) + ": " + RecordTimestamp(records[jump.after]) + " after " +
               RecordTimestamp(records[jump.before]) + '\n';
    }
    out += "  conflicting records: " + std::to_string(device.conflicts.size()) + '\n';
    for (const auto& [a, b] : device.conflicts) {
        out += "    " + RecordTimestamp(records[a]) + ": " + Shown(archive.files[records[a].file].relative) +
               " and " + Shown(archive.files[records[b].file].relative) + " hold different records\n";
    }
    out += "  damaged lines: " + std::to_string(device.DamagedLines()) + '\n';
    for (const DamagedLine& line : device.damaged)
        out += "    " + Where(archive, line.where) + ": " + Shown(line.reason) + '\n';
    for (const UnlistedDamage& more : device.unlisted) {
        out += "    " + archive.files[more.file].relative + ": " +
               Plural(more.lines, "more damaged line", "more damaged lines") + " not listed\n";
    }
    for (const std::string& problem : device.unreadable) out += "  unreadable: " + problem + '\n';
    if (options.now)
        out += device.Complete() ? "  verdict: complete\n"
                                 : "  verdict: incomplete: " + IncompleteText(device) + '\n';
}

}  // namespace

std::string Plural(size_t count, const char* one, const char* many) {
    return std::to_string(count) + ' ' + (count == 1 ? one : many);
}

std::string ArchiveCheckText(const Archive& archive, const ArchiveTextOptions& options) {
    std::string out = (options.database ? "database: " : "folder: ") + Shown(archive.folder) + '\n';
    for (const std::string& problem : archive.problems) out += "unreadable: " + problem + '\n';
    size_t incomplete = 0;
    for (const DeviceArchive& device : archive.devices) {
        AppendDevice(out, archive, device, options);
        incomplete += device.Complete() ? 0 : 1;
    }
    const std::string counts = Plural(archive.devices.size(), "device", "devices") + ", " +
                               Plural(archive.files.size(), "file", "files");
    if (archive.Complete()) return out + "archive complete: " + counts + '\n';
    out += "archive incomplete: " + counts;
    if (incomplete)
        out += "; " + Plural(incomplete, "device has", "devices have") + " gaps, set-backs or damage";
    if (!archive.problems.empty())
        out += "; " + Plural(archive.problems.size(), "unreadable entry", "unreadable entries");
    return out + '\n';
}

std::optional<uint32_t> ProductFieldNumber(std::string_view product) {
    if (product.empty() || product.size() > 20) return {};
    uint64_t value = 0;
    for (char c : product) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) return {};
    }
    return static_cast<uint32_t>(value);
}

const DeviceArchive* FindByProductField(const Archive& archive, std::string_view product) {
    const std::optional<uint32_t> number = ProductFieldNumber(product);
    return number ? archive.Find(*number) : nullptr;
}

std::optional<PendingRecords> DevicePending(const DeviceArchive& device, std::string_view device_time,
                                            int count) {
    if (device.records.empty()) return {};
    // The device's clock time of the newest saved record, "YYYY-MM-DD hh:mm:ss".
    const std::string newest = RecordTimestamp(device.records[device.newest]).substr(0, 19);
    return EstimatePending(newest, device_time, count, device.interval);
}

std::string DateAfter(std::string_view device_time, double days) {
    const std::optional<int64_t> seconds = ParseClockTime(device_time, ' ');
    if (!seconds) return {};
    return ClockText(*seconds + static_cast<int64_t>(days * 86400)).substr(0, 10);
}

}  // namespace korvel
