// SPDX-License-Identifier: MIT
// The simulated recorder's terminal side: the pseudo-terminal (or a given tty), the command loop,
// output pacing, chunking and hang-up, the request log and the control channel.
#pragma once

#include <string>

#include "sim/faults.h"
#include "sim/recorder.h"

namespace korvel::sim {

struct DeviceOptions {
    std::string tty_path;      // run on this tty; empty: create a pseudo-terminal
    std::string link_path;     // keep a symlink to the pseudo-terminal here
    std::string log_path;      // one line per command received
    std::string control_path;  // FIFO of control commands; "-" reads them from stdin
    bool exit_on_stdin_eof = false;
    long chunk = 0;             // write at most this many bytes at a time (0: no limit)
    long chunk_gap_us = 2000;   // pause between two chunks
    long baud = 0;              // pace the output at baud / 10 bytes per second (0: no pacing)
    long hangup_after = -1;     // close the device side after this many bytes were sent
    long replug_after_ms = -1;  // after a hang-up, offer a new pseudo-terminal after this long
    long reply_delay_ms = 0;    // a slow device: each reply goes out this long after its command
};

// Runs until SIGTERM or SIGINT (or the end of stdin when asked). Returns the exit status.
int RunDevice(Recorder& recorder, FaultPlan& faults, const DeviceOptions& options);

}  // namespace korvel::sim
