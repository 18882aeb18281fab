// SPDX-License-Identifier: MIT
// The sentences of the failures that ports and record files report, in one place, as ui/texts.h holds
// the window's texts: each names the port or file, what went wrong and what to do.
#pragma once

#include <string>

namespace korvel::failure_text {

inline std::string NoBaudRate() { return "no baud rate chosen: choose one"; }
inline std::string PortWithoutName() { return "the chosen port has no name: choose another port"; }
inline std::string PortWithoutNumber() { return "the chosen port has no number: choose a COM port"; }
inline std::string PortAbsent(const std::string& port) {
    return port + " is not there: plug the device in or choose another port";
}
inline std::string PortNotPermitted(const std::string& port, const std::string& group) {
    return "no permission to open " + port + " (group " + group + "): add yourself to group " + group +
           ", then log out and in";
}
inline std::string PortBusy(const std::string& port) {
    return port + " is in use by another program: close it or choose another port";
}
inline std::string PortBusyAccessDenied(const std::string& port) {
    return port + " is in use by another program (access denied): close it or choose another port";
}
inline std::string PortHeldBy(const std::string& port, const std::string& holders) {
    return port + " is in use by process " + holders + ": close that program or choose another port";
}
inline std::string PortNotSerial(const std::string& port) {
    return port + " is not a serial port: choose another port";
}
inline std::string PortRefusedRate(const std::string& port, unsigned baud) {
    return port + " refused " + std::to_string(baud) + " bit/s 8N1: choose another rate";
}
inline std::string PortLost(const std::string& port) {
    return port + " was unplugged or hung up: plug it back in; the port reopens by itself";
}
inline std::string SaveFolderRefused(const std::string& folder, const std::string& reason) {
    return "cannot save record files in " + folder + ": " + reason +
           "; make room or let this user write there";
}
inline std::string RecordFileNotWritten(const std::string& path, const std::string& reason) {
    return "cannot write the record file " + path + ": " + reason +
           "; check that the folder exists, is writable and has free space";
}

}  // namespace korvel::failure_text
