// SPDX-License-Identifier: MIT
// A pseudo-terminal pair standing in for a serial device: the code under test opens slave_path, the
// test plays the device on master.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace korvel::testing {

class PtyPair {
  public:
    PtyPair();  // fails the test (ADD_FAILURE) and leaves master -1 when no pty can be had
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // Closing the master is a hang-up for whoever has the slave open.
    void CloseMaster();

    // Writes everything (waiting for room as needed); false on error.
    bool WriteAll(const void* bytes, size_t length);
    bool WriteAll(const std::string& text) { return WriteAll(text.data(), text.size()); }
    // Reads exactly n bytes from the master, or what came before timeout.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds timeout);
    // Bytes waiting on the slave side, unread by the code under test.
    int SlaveQueued() const;

    int master = -1;
    int slave = -1;  // kept open so the slave survives the port's close and its termios can be read
    std::string slave_path;
};

// Open descriptors of this process.
int CountOpenFds();
// Threads of this process.
int CountThreads();

}  // namespace korvel::testing
