// SPDX-License-Identifier: MIT
// Follows serial ports that are plugged in or removed and reports each change the way the system's
// device-change broadcast would: DBT_DEVICEARRIVAL or DBT_DEVICEREMOVECOMPLETE.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/port_enumerator.h"

namespace korvel {

class HotplugMonitor {
  public:
    using Handler = std::function<void(uintptr_t event)>;

    // Listens to udev when it runs (udev_control exists); otherwise Tick() rescans the ports.
    HotplugMonitor(PortEnumerator& ports, Handler on_change, std::string udev_control = "/run/udev/control");
    ~HotplugMonitor();
    HotplugMonitor(const HotplugMonitor&) = delete;
    HotplugMonitor& operator=(const HotplugMonitor&) = delete;

    bool UsesUdev() const { return fd_ >= 0; }
    // The descriptor for the front end's event loop; -1 without udev.
    int Fd() const { return fd_; }
    // Call when Fd() is readable: reports every queued udev event.
    void OnReadable();
    // Call on every timer tick: without udev, reports a change when the port list differs.
    void Tick();

  private:
    struct Udev;
    PortEnumerator& ports_;
    Handler on_change_;
    std::unique_ptr<Udev> udev_;
    int fd_ = -1;
    std::vector<std::u16string> last_;
};

}  // namespace korvel
