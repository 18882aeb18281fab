// SPDX-License-Identifier: MIT
#include "device_commands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "exit_codes.h"
#include "nlohmann/json.hpp"
#include "protocol/record_index.h"
#include "records/record_file.h"
#include "serial/sysfs_ports.h"
#include "session.h"
#include "system.h"
#include "text/utf8.h"
#include "ui/controls.h"

namespace korvel::cli {
namespace {

std::string AbsoluteFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::path path = std::filesystem::absolute(folder, error).lexically_normal();
    std::string text = path.string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text;
}

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

}  // namespace

int RunPorts() {
    bool readable = true;
    for (const std::string& path : SysfsPortEnumerator().Paths(&readable)) std::cout << path << '\n';
    if (readable) return kExitOk;
    std::cerr << "korvel-cli: the system's list of serial ports (/sys/class/tty) cannot be read: check that "
                 "sysfs is mounted and readable\n";
    return kExitPort;
}

int RunInfo(const DeviceOptions& options) {
    Session session(options);
    if (const int code = session.Open(); code != kExitOk) return code;
    if (const int code = session.ReadInfo(); code != kExitOk) return code;
    const CliDialog& d = session.dialog();
    const int count = RingDistance(d.m_nTailIndex, d.m_nHeadIndex);
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
        // Text that is not valid UTF-8 has already become U+FFFD; nothing can make the dump throw.
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
    const char* home = std::getenv("HOME");
    if (!given && home && !HoldsAsText(home)) {
        std::cerr << "korvel-cli: the home folder " << ShownPath(home)
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
                            : "; create ~/hollin.data/upload or choose a writable folder with --dir")
                  << '\n';
        return kExitWrite;
    }
    Session session(options);
    if (const int code = session.Open(); code != kExitOk) return code;
    return session.Download(folder);
}

}  // namespace korvel::cli
