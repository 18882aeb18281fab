// SPDX-License-Identifier: MIT
// The commands that talk to the device (and list the ports); each returns the process's exit code.
#pragma once

#include <optional>
#include <string>

#include "ui/dialog_template.h"

namespace korvel::cli {

struct DeviceOptions {
    std::string port;
    int baud_index = kDefaultBaudIndex;  // index into the dialog's rate list
    std::optional<std::string> dir;
    int retries = 3;
    bool json = false;
};

int RunPorts();
int RunInfo(const DeviceOptions& options);
int RunSyncTime(const DeviceOptions& options);
int RunDownload(const DeviceOptions& options);

}  // namespace korvel::cli
