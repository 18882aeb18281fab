// SPDX-License-Identifier: MIT
// One opened serial port. Implemented once per OS (port_posix.cpp, port_win.cpp) around the shared
// reader hand-over (reader_hand_over.h); tests may supply fakes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui_post.h"
#include "text/failure.h"

namespace korvel {

class Port {
  public:
    using DataHandler = std::function<void(const uint8_t* bytes, int count)>;
    using LostHandler = std::function<void()>;

    virtual ~Port() = default;

    // Starts the reader thread. Each received chunk (1 to 255 bytes) is handed to on_data on the
    // user-interface thread through post; the reader reads the next chunk only after that one was
    // handled, or after the port was closed (a chunk pending at close may be dropped). When the device
    // vanishes the reader ends and on_lost runs once on the user-interface thread. False when the
    // thread could not be started.
    virtual bool StartReader(UiPost post, DataHandler on_data, LostHandler on_lost) = 0;
    virtual void SetDtr(bool raised) = 0;
    // Writes one block; returns when it has left, failed or timeout_ms passed. Nothing is reported.
    virtual void Write(const uint8_t* bytes, size_t length, unsigned timeout_ms) = 0;
    // DTR low, purge both directions, end and join the reader, close. Idempotent; user-interface thread.
    // Never blocks on a reader that waits for the user-interface thread.
    virtual void Close() = 0;
};

using PortOpener =
    std::function<std::unique_ptr<Port>(const std::string& path, uint32_t baud, Failure& failure)>;

// The real port of this OS: exclusive open, 8N1 at baud, raw, both directions purged. A baud of 0 is
// refused before the system is asked (it would divide the write timeout by zero).
std::unique_ptr<Port> OpenSerialPort(const std::string& path, uint32_t baud, Failure& failure);
// The OS part of OpenSerialPort, for a baud above 0 (port_posix.cpp, port_win.cpp).
std::unique_ptr<Port> OpenSystemPort(const std::string& path, uint32_t baud, Failure& failure);

// What an open of path that failed with this OS's error number means, and what to do about it.
Failure DescribeOpenError(int error, const std::string& path);

// Processes that have path open, as "1234 (name)"; best effort, empty when none can be seen.
std::vector<std::string> FindPortHolders(const std::string& path);

}  // namespace korvel
