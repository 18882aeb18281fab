// SPDX-License-Identifier: MIT
#include "views/archive_text.h"
#include "protocol/record_index.h"

#include <cstdio>
#include <iterator>

#include "records/record_line.h"
#include "text/civil_time.h"
#include "text/number.h"
#include "text/shown.h"
#include "views/record_texts.h"

namespace korvel {
namespace {

std::string Where(const Archive& archive, const ArchiveLine& where) {
    return archive.files[where.file].relative + ':' + std::to_string(where.line);
}

// Values that are no number listed per device; the rest are counted.
constexpr size_t kNoNumberListed = 100;

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
    if (!device.HasInterval()) return "unknown: no usual interval between its records";
    const ArchiveRecord& newest = device.records[device.newest];
    const int64_t local_now = now + int64_t{newest.offset} * 60;
    const std::optional<PendingRecords> pending =
        EstimatePending(newest.utc, now, kRingRecords, device.interval);
    if (!pending) return "unknown: the newest record is later than this computer's clock";
    std::string text = "\u2248 " + Plural(static_cast<size_t>(pending->records), "record", "records") +
                       " not yet downloaded";
    if (pending->lost > 0) {
        text += "; about " + std::to_string(pending->lost) + " already overwritten, download soon";
    } else if (pending->records > 0) {
        text += "; the oldest is overwritten about " + DateText(local_now + pending->seconds_left);
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
    out += device.HasInterval() ? "  interval: " + std::to_string(device.interval) + " s\n"
                                : std::string("  interval: none\n");
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
    if (!device.no_number.empty()) {
        out += "  values that are no number: " + std::to_string(device.no_number.size()) + '\n';
        std::string scratch;
        for (size_t i = 0; i < device.no_number.size() && i < kNoNumberListed; ++i) {
            const NoNumberLine& line = device.no_number[i];
            out += "    " + Where(archive, line.where) + ": " +
                   Shown(RecordValue(device, records[line.record], scratch)) + '\n';
        }
        if (device.no_number.size() > kNoNumberListed)
            out +=
                "    " + Plural(device.no_number.size() - kNoNumberListed, "more", "more") + " not listed\n";
    }
    if (options.now)
        out += device.Complete() ? "  verdict: complete\n"
                                 : "  verdict: incomplete: " + IncompleteText(device) + '\n';
}

}  // namespace

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

std::string DamageReasonZh(const DamagedLine& line, uint32_t named) {
    using namespace record_text;
    if (line.damage == static_cast<int8_t>(LineDamage::kOtherProduct))
        return std::string(kOtherProductBefore) + Shown(line.product) + std::string(kOtherProductAfter) +
               std::to_string(named);
    const auto index = static_cast<size_t>(line.damage);
    return index < std::size(kDamage) ? std::string(kDamage[index]) : Shown(line.reason);
}

namespace {

std::string Count(size_t n, const char* unit) { return std::to_string(n) + ' ' + unit; }

// What keeps the device's records from being known whole, in the check window's words.
std::string IncompleteZh(const DeviceArchive& device) {
    using namespace record_text;
    std::string text;
    auto add = [&](size_t count, std::string_view words) {
        if (count == 0) return;
        if (!text.empty()) text += "，";
        text += std::to_string(count) + ' ' + std::string(words);
    };
    add(device.gaps.size(), kIncompleteGaps);
    add(device.jumps.size(), kIncompleteJumps);
    add(device.DamagedLines(), kIncompleteDamaged);
    add(device.conflicts.size(), kIncompleteConflicts);
    add(device.unreadable.size(), kIncompleteUnreadable);
    return text;
}

std::string PendingZh(const DeviceArchive& device, int64_t now) {
    using namespace record_text;
    if (device.records.empty()) return std::string(kPendingNoRecord);
    if (!device.HasInterval())
        return std::string(kPending) + std::string(kUnknown) + std::string(kNoIntervalWhy);
    const ArchiveRecord& newest = device.records[device.newest];
    const int64_t local_now = now + int64_t{newest.offset} * 60;
    const std::optional<PendingRecords> pending =
        EstimatePending(newest.utc, now, kRingRecords, device.interval);
    if (!pending) return std::string(kPendingLater);
    std::string text =
        std::string(kPending) + "约 " + std::to_string(pending->records) + std::string(kPendingCount);
    if (pending->lost > 0) {
        text += "；\n    约 " + std::to_string(pending->lost) + std::string(kPendingLost);
    } else if (pending->records > 0) {
        text += "；\n    " + std::string(kPendingOverwritten) + DateText(local_now + pending->seconds_left) +
                std::string(kPendingOverwrittenAfter);
    }
    return text;
}

void AppendDeviceZh(std::string& out, const Archive& archive, const DeviceArchive& device, int64_t now) {
    using namespace record_text;
    const auto& records = device.records;
    out += '\n' + std::string(kProduct) + Shown(ProductSpelling(device)) + "：";
    out += device.Complete() ? std::string(kComplete)
                             : std::string(kIncomplete) + "（" + IncompleteZh(device) + "）";
    out += '\n';
    out += "  " + std::string(kFiles) + Count(device.files.size(), "个") + "，" + std::string(kValidLines) +
           Count(device.valid_lines, "行") + "，" + std::string(kRecords) + Count(records.size(), "条") +
           '\n';
    if (!records.empty()) {
        out += "  " + std::string(kFirst) + RecordTimestamp(records[device.earliest]) + '\n';
        out += "  " + std::string(kLast) + RecordTimestamp(records[device.newest]) + '\n';
    }
    out += "  " +
           (device.HasInterval() ? std::string(kInterval) + Count(static_cast<size_t>(device.interval), "秒")
                                 : std::string(kNoInterval)) +
           '\n';
    out += "  " + PendingZh(device, now) + '\n';
    out +=
        "  " + std::string(kGaps) + Count(device.gaps.size(), "个") + (device.gaps.empty() ? "\n" : "：\n");
    for (const ArchiveGap& gap : device.gaps) {
        out += "    " + RecordTimestamp(records[gap.before]) + std::string(kGapTo) + '\n';
        out += "    " + RecordTimestamp(records[gap.after]) + "，" + std::string(kMissing) +
               Count(static_cast<size_t>(gap.missing), "条") + '\n';
    }
    out += "  " + std::string(kJumps) + Count(device.jumps.size(), "次") +
           (device.jumps.empty() ? "\n" : "：\n");
    for (const ClockJump& jump : device.jumps) {
        out += "    " + Shown(Where(archive, jump.where)) + "：\n";
        out += "    " + RecordTimestamp(records[jump.before]) + " " + std::string(kJumpAfter) + '\n';
        out += "    " + RecordTimestamp(records[jump.after]) + '\n';
    }
    out += "  " + std::string(kConflicts) + Count(device.conflicts.size(), "条") +
           (device.conflicts.empty() ? "\n" : "：\n");
    for (const auto& [a, b] : device.conflicts) {
        out += "    " + RecordTimestamp(records[a]) + "，" + std::string(kConflictHold) + '\n';
        out += "    " + Shown(archive.files[records[a].file].relative) + '\n';
        out += "    " + Shown(archive.files[records[b].file].relative) + '\n';
    }
    out += "  " + std::string(kDamaged) + Count(device.DamagedLines(), "行") +
           (device.DamagedLines() ? "：\n" : "\n");
    for (const DamagedLine& line : device.damaged)
        out +=
            "    " + Shown(Where(archive, line.where)) + "：" + DamageReasonZh(line, device.product) + '\n';
    for (const UnlistedDamage& more : device.unlisted) {
        out += "    " + Shown(archive.files[more.file].relative) + "：" + std::string(kMoreDamaged) +
               Count(more.lines, "行") + '\n';
    }
    // The system's own sentence, on a line of its own.
    for (const std::string& problem : device.unreadable)
        out += "  " + std::string(kUnreadable) + "\n    " + problem + '\n';
    if (!device.no_number.empty()) {
        out += "  " + std::string(kNoNumber) + " " + Count(device.no_number.size(), "条") + "：\n";
        std::string scratch;
        for (size_t i = 0; i < device.no_number.size() && i < kNoNumberListed; ++i) {
            const NoNumberLine& line = device.no_number[i];
            out += "    " + Shown(Where(archive, line.where)) + "：" +
                   Shown(RecordValue(device, records[line.record], scratch)) + '\n';
        }
        if (device.no_number.size() > kNoNumberListed)
            out += "    " + std::string(kMoreNoNumber) +
                   Count(device.no_number.size() - kNoNumberListed, "条") + '\n';
    }
}

}  // namespace

std::string ArchiveCheckTextZh(const Archive& archive, int64_t now, bool database) {
    using namespace record_text;
    std::string out = std::string(database ? kDatabase : kFolder) + '\n' + Shown(archive.folder) + '\n';
    out += archive.Complete() ? std::string(kArchiveComplete) : std::string(kArchiveIncomplete);
    out += "：" + Count(archive.devices.size(), "台设备") + "，" + Count(archive.files.size(), "个文件");
    size_t incomplete = 0;
    for (const DeviceArchive& device : archive.devices) incomplete += device.Complete() ? 0 : 1;
    if (incomplete) out += "，其中 " + std::to_string(incomplete) + ' ' + std::string(kDevicesIncomplete);
    out += '\n';
    for (const std::string& problem : archive.problems)
        out += std::string(kUnreadable) + "\n  " + problem + '\n';
    for (const DeviceArchive& device : archive.devices) AppendDeviceZh(out, archive, device, now);
    return out;
}

const DeviceArchive* FindByProductField(const Archive& archive, std::string_view product) {
    const std::optional<uint32_t> number = ProductFieldNumber(product);
    return number ? archive.Find(*number) : nullptr;
}

std::optional<PendingRecords> DevicePending(const DeviceArchive& device, int64_t device_clock, int count) {
    if (device.records.empty() || !device.HasInterval()) return {};
    const ArchiveRecord& newest = device.records[device.newest];
    return EstimatePending(newest.utc + int64_t{newest.offset} * 60, device_clock, count, device.interval);
}

}  // namespace korvel
