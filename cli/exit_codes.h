// SPDX-License-Identifier: MIT
// The exit codes scripts rely on; the man page lists the same table.
#pragma once

namespace korvel::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitNoAnswer = 1,       // the device did not answer, or refused, after the retries
    kExitUsage = 2,          // the command line was wrong
    kExitPort = 3,           // the port could not be opened, or was lost
    kExitWrite = 4,          // the record file could not be written
    kExitVerify = 5,         // verify found a problem; archive found a gap, a clock set-back or damage
    kExitSkipped = 6,        // the download ended, but records that kept failing their checksum are missing
    kExitOpen = 7,           // the report or fleet page was written, but no browser could be started for it
    kExitInterrupted = 130,  // stopped by SIGINT (Ctrl-C), SIGTERM or SIGHUP: 128 + SIGINT, as shells do
};

}  // namespace korvel::cli
