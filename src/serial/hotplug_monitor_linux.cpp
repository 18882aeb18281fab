// SPDX-License-Identifier: MIT
#include <libudev.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "serial/device_change.h"
#include "serial/hotplug_monitor.h"

namespace korvel {

struct HotplugMonitor::Udev {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    ~Udev() {
        if (monitor) udev_monitor_unref(monitor);
        if (context) udev_unref(context);
    }
};

HotplugMonitor::HotplugMonitor(PortEnumerator& ports, Handler on_change, std::string udev_control)
    : ports_(ports), on_change_(std::move(on_change)) {
    if (::access(udev_control.c_str(), F_OK) == 0) {
        auto u = std::make_unique<Udev>();
        u->context = udev_new();
        // The "udev" group, not "kernel": by then the node exists and its permissions are set.
        if (u->context) u->monitor = udev_monitor_new_from_netlink(u->context, "udev");
        if (u->monitor && udev_monitor_filter_add_match_subsystem_devtype(u->monitor, "tty", nullptr) >= 0 &&
            udev_monitor_enable_receiving(u->monitor) >= 0) {
            fd_ = udev_monitor_get_fd(u->monitor);
            udev_ = std::move(u);
        }
    }
    if (fd_ < 0) last_ = ports_.List();
}

HotplugMonitor::~HotplugMonitor() = default;

void HotplugMonitor::OnReadable() {
    if (!udev_) return;
    while (udev_device* device = udev_monitor_receive_device(udev_->monitor)) {
        const char* action = udev_device_get_action(device);
        if (action && std::strcmp(action, "add") == 0) on_change_(DBT_DEVICEARRIVAL);
        if (action && std::strcmp(action, "remove") == 0) on_change_(DBT_DEVICEREMOVECOMPLETE);
        udev_device_unref(device);
    }
}

void HotplugMonitor::Tick() {
    if (udev_) return;
    auto now = ports_.List();
    if (now == last_) return;
    const bool removed = std::any_of(last_.begin(), last_.end(), [&](const auto& name) {
        return std::find(now.begin(), now.end(), name) == now.end();
    });
    last_ = std::move(now);
    on_change_(removed ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL);
}

}  // namespace korvel
