// SPDX-License-Identifier: MIT
#include "device_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "archive/archive.h"
#include "exit_codes.h"
#include "nlohmann/json.hpp"
#include "protocol/record_index.h"
#include "records/record_file.h"
#include "records/record_line.h"
#include "records/scan.h"
#include "session.h"
#include "system.h"
#include "text/failure_texts.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "ui/controls.h"
#include "views/archive_text.h"

namespace korvel::cli {
namespace {

double ShownHours(int count) {
    // As the dialog shows it: the seconds of each record, one decimal.
    const double hours = static_cast<double>(count * kSecondsPerRecord) / 3600.0;
    return std::round(hours * 10.0) / 10.0;
}

// "≈ N records not yet downloaded; ...", from the newest record the folder holds of this device; empty
// when it holds none.
std::string PendingText(const DeviceOptions& options, const CliDialog& d, int count,
                        std::optional<PendingRecords>& pending) {
    const std::string folder = options.dir ? *options.dir : WideToUtf8(ResolveUploadFolder());
    if (const Failure problem = FolderReadProblem(folder)) {
        if (problem.kind == FailureKind::Absent) {
            if (!options.dir) return {};
            return "unknown: the folder " + Shown(folder) +
                   " does not exist; name the folder of the saved record files with --dir";
        }
        return "unknown: " + failure_text::FolderNotRead(Shown(folder), options.dir.has_value(), problem.kind,
                                                         Shown(problem.reason));
    }
    const Archive archive = ReadArchive(folder);
    const std::string product = WideToUtf8(d.ProductNo());
    const DeviceArchive* device = FindByProductField(archive, product);
    std::string unread;
    if (device && !device->unreadable.empty()) {
        unread = "; " + std::to_string(device->unreadable.size()) +
                 (device->unreadable.size() == 1 ? " saved file" : " saved files") +
                 " of the device could not be read, so the count may be too high (" +
                 device->unreadable.front() + ")";
    }
    if (!device || device->records.empty()) {
        if (unread.empty()) return {};
        return "unknown" + unread;
    }
    if (!device->HasInterval())
        return "unknown: the saved records of the device show no usual interval yet (too few records)" +
               unread;
    if (const std::optional<int64_t> clock = ParseClockTime(WideToUtf8(d.DeviceTime()), ' '))
        pending = DevicePending(*device, *clock, count);
    if (!pending) {
        const std::string newest = RecordTimestamp(device->records[device->newest]).substr(0, 19);
        return "unknown: the device clock reads earlier than the newest saved record (" + newest +
               "); set it with sync-time" + unread;
    }
    char text[160];
    std::snprintf(text, sizeof text, "\u2248 %lld records not yet downloaded",
                  static_cast<long long>(pending->records));
    std::string result = text;
    if (pending->records > 0) {
        std::snprintf(text, sizeof text, "; the oldest is overwritten in about %.1f days", pending->days);
        result += text;
    }
    if (pending->lost > 0) {
        result += "; about " + std::to_string(pending->lost) +
                  " records were overwritten before they were downloaded";
    }
    return result + unread;
}

}  // namespace

int RunPorts() {
    const SystemPortList list = SystemPorts();
    for (const std::string& path : list.ports) std::cout << path << '\n';
    return Report({list.failure ? kExitPort : kExitOk, list.failure});
}

int RunInfo(const DeviceOptions& options) {
    Session session(options);
    if (const StepResult open = session.Open(); !open.ok()) return Report(open);
    if (const StepResult info = session.ReadInfo(); !info.ok()) return Report(info);
    const CliDialog& d = session.dialog();
    const int count = d.RecordCount();
    std::optional<PendingRecords> pending;
    const std::string pending_text = PendingText(options, d, count, pending);
    if (options.json) {
        nlohmann::ordered_json info;
        info["product"] = WideToUtf8(d.ProductNo());
        info["firmware"] = WideToUtf8(d.Firmware());
        info["protocol"] = d.Protocol();
        info["records"] = count;
        info["hours"] = ShownHours(count);
        info["head_index"] = d.HeadIndex();
        info["tail_index"] = d.TailIndex();
        info["device_time"] = WideToUtf8(d.DeviceTime());
        info["pc_time"] = WideToUtf8(d.PcTime());
        if (!pending_text.empty()) {
            nlohmann::ordered_json p;
            p["records"] = pending ? nlohmann::ordered_json(pending->records) : nlohmann::ordered_json();
            p["days_until_overwritten"] = pending && pending->records > 0
                                              ? nlohmann::ordered_json(std::round(pending->days * 10) / 10)
                                              : nlohmann::ordered_json();
            p["overwritten_before_download"] =
                pending ? nlohmann::ordered_json(pending->lost) : nlohmann::ordered_json();
            p["text"] = pending_text;
            info["pending"] = p;
        }
        // Text that is not valid UTF-8 has already become U+FFFD; nothing can make the dump throw.
        BinaryStandardOutput();
        std::cout << info.dump() << '\n';
    } else {
        std::cout << "product: " << Shown(d.ProductNo()) << '\n'
                  << "firmware: " << Shown(d.Firmware()) << '\n'
                  << "protocol: " << d.Protocol() << '\n'
                  << "records: " << Shown(session.window().Text(IDC_RECORD_COUNT)) << '\n'
                  << "head index: " << d.HeadIndex() << '\n'
                  << "tail index: " << d.TailIndex() << '\n'
                  << "device time: " << Shown(d.DeviceTime()) << '\n'
                  << "pc time: " << Shown(d.PcTime()) << '\n';
        if (!pending_text.empty()) std::cout << "pending: " << Shown(Utf8ToWide(pending_text)) << '\n';
    }
    return kExitOk;
}

int RunSyncTime(const DeviceOptions& options) {
    Session session(options);
    if (const StepResult open = session.Open(); !open.ok()) return Report(open);
    return Report(session.SyncTime());
}

int RunDownload(const DeviceOptions& options) {
    const bool given = options.dir.has_value();
    // The dialog holds its folder as text: a name that is not UTF-8 would be written somewhere else.
    const std::optional<std::string> home = HomeFolderVariable();
    if (!given && home && !HoldsAsText(*home)) {
        return Report({kExitWrite, {FailureKind::Other, failure_text::HomeNotText(Shown(*home))}});
    }
    const std::string folder = AbsoluteFolder(given ? *options.dir : WideToUtf8(ResolveUploadFolder()));
    if (!HoldsAsText(folder)) {
        return Report({kExitUsage, {FailureKind::Other, failure_text::DirNotText(Shown(folder))}});
    }
    // Found out before the device is asked anything: a long download must not end in a lost file.
    if (Failure problem = FolderProblem(folder)) {
        problem.message = failure_text::CannotWriteRecordFiles(
            folder, problem.reason,
            given ? "choose a writable folder with --dir"
                  : "create " + UploadFolderHint() + " or choose a writable folder with --dir");
        return Report({kExitWrite, problem});
    }
    Session session(options);
    if (const StepResult open = session.Open(); !open.ok()) return Report(open);
    return Report(session.Download(folder));
}

}  // namespace korvel::cli
