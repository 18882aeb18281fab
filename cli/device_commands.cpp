// SPDX-License-Identifier: MIT
#include "device_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "exit_codes.h"
#include "nlohmann/json.hpp"
#include "protocol/record_index.h"
#include "records/archive.h"
#include "records/record_file.h"
#include "records/scan.h"
#include "session.h"
#include "system.h"
#include "text/number.h"
#include "text/utf8.h"
#include "ui/controls.h"

namespace korvel::cli {
namespace {

// The bytes of a path for a message: bytes that are not UTF-8 are shown as \xNN.
std::string ShownPath(const std::string& path) {
    std::string shown;
    for (unsigned char c : path) {
        if (c < 0x80 && c >= 0x20) {
            shown += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        }
    }
    return HoldsAsText(path) ? path : shown;
}

double ShownHours(int count) {
    // As the dialog shows it: the seconds of each record, one decimal.
    const double hours = static_cast<double>(count * kSecondsPerRecord) / 3600.0;
    return std::round(hours * 10.0) / 10.0;
}

// "≈ N records not yet downloaded; ...", from the newest record the folder holds of this device; empty
// when it holds none.
std::string PendingText(const DeviceOptions& options, const CliDialog& d, int count,
                        std::optional<PendingRecords>& pending) {
    const std::u16string folder = options.dir ? Utf8ToWide(*options.dir) : ResolveUploadFolder();
    std::u16string newest;
    ScanFolder(folder, ToInt(d.m_strProductNo), newest, [](const std::u16string&) {});
    if (newest.empty()) return {};
    pending = EstimatePending(WideToUtf8(newest), WideToUtf8(d.m_strDeviceTime), count);
    if (!pending) {
        return "unknown: the device clock reads earlier than the newest saved record (" + WideToUtf8(newest) +
               "); set it with sync-time";
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
    return result;
}

}  // namespace

int RunPorts() {
    bool readable = true;
    for (const std::string& path : SystemPorts(&readable)) std::cout << path << '\n';
    if (readable) return kExitOk;
    std::cerr << "korvel-cli: " << PortListProblem() << '\n';
    return kExitPort;
}

int RunInfo(const DeviceOptions& options) {
    Session session(options);
    if (const int code = session.Open(); code != kExitOk) return code;
    if (const int code = session.ReadInfo(); code != kExitOk) return code;
    const CliDialog& d = session.dialog();
    const int count = RingDistance(d.m_nTailIndex, d.m_nHeadIndex);
    std::optional<PendingRecords> pending;
    const std::string pending_text = PendingText(options, d, count, pending);
    if (options.json) {
        nlohmann::ordered_json info;
        info["product"] = WideToUtf8(d.m_strProductNo);
        info["firmware"] = WideToUtf8(d.m_strFirmware);
        info["protocol"] = d.m_nProtocol;
        info["records"] = count;
        info["hours"] = ShownHours(count);
        info["head_index"] = d.m_nHeadIndex;
        info["tail_index"] = d.m_nTailIndex;
        info["device_time"] = WideToUtf8(d.m_strDeviceTime);
        info["pc_time"] = WideToUtf8(d.m_strPcTime);
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
        std::cout << "product: " << PlainText(d.m_strProductNo) << '\n'
                  << "firmware: " << PlainText(d.m_strFirmware) << '\n'
                  << "protocol: " << d.m_nProtocol << '\n'
                  << "records: " << PlainText(session.window().Text(IDC_RECORD_COUNT)) << '\n'
                  << "head index: " << d.m_nHeadIndex << '\n'
                  << "tail index: " << d.m_nTailIndex << '\n'
                  << "device time: " << PlainText(d.m_strDeviceTime) << '\n'
                  << "pc time: " << PlainText(d.m_strPcTime) << '\n';
        if (!pending_text.empty()) std::cout << "pending: " << PlainText(Utf8ToWide(pending_text)) << '\n';
    }
    return kExitOk;
}

int RunSyncTime(const DeviceOptions& options) {
    Session session(options);
    if (const int code = session.Open(); code != kExitOk) return code;
    return session.SyncTime();
}

int RunDownload(const DeviceOptions& options) {
    const bool given = options.dir.has_value();
    // The dialog holds its folder as text: a name that is not UTF-8 would be written somewhere else.
    const std::optional<std::string> home = HomeFolderVariable();
    if (!given && home && !HoldsAsText(*home)) {
        std::cerr << "korvel-cli: the home folder " << ShownPath(*home)
                  << " is not named in UTF-8, so the upload folder in it cannot be used; choose a folder "
                     "with --dir\n";
        return kExitWrite;
    }
    const std::string folder = AbsoluteFolder(given ? *options.dir : WideToUtf8(ResolveUploadFolder()));
    if (!HoldsAsText(folder)) {
        std::cerr << "korvel-cli: --dir: the folder " << ShownPath(folder)
                  << " is not named in UTF-8, which record file paths must be; rename it or choose another "
                     "folder\n";
        return kExitUsage;
    }
    // Found out before the device is asked anything: a long download must not end in a lost file.
    if (const std::string problem = FolderProblem(folder); !problem.empty()) {
        std::cerr << "korvel-cli: cannot write record files to " << folder << ": " << problem
                  << (given ? "; choose a writable folder with --dir"
                            : "; create " + UploadFolderHint() + " or choose a writable folder with --dir")
                  << '\n';
        return kExitWrite;
    }
    Session session(options);
    if (const int code = session.Open(); code != kExitOk) return code;
    return session.Download(folder);
}

}  // namespace korvel::cli
