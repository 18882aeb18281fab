// SPDX-License-Identifier: MIT
#include <iostream>

#include "device_commands.h"
#include "exit_codes.h"

namespace korvel::cli {

static int NotYet() {
    std::cerr << "korvel-cli: this command needs the engine, which is not built in yet\n";
    return kExitNoAnswer;
}
int RunPorts() { return NotYet(); }
int RunInfo(const DeviceOptions&) { return NotYet(); }
int RunSyncTime(const DeviceOptions&) { return NotYet(); }
int RunDownload(const DeviceOptions&) { return NotYet(); }

}  // namespace korvel::cli
