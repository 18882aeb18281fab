// SPDX-License-Identifier: MIT
// Port discovery from the sysfs tree and the hot-plug monitor (udev or its rescan fallback).
// What the dialog does with the list is in dialog_port_test.cpp.
// Linux only: sysfs and udev; the Windows port list (the SERIALCOMM key) is tested in tests/win.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "serial/device_change.h"
#include "serial/hotplug_monitor.h"
#include "serial/sysfs_ports.h"
#include "support/fake_port.h"

namespace korvel {
namespace {

namespace fs = std::filesystem;

// A sysfs tree of tty entries, built the way the kernel lays it out.
class FakeSysfs {
  public:
    FakeSysfs() {
        char tmpl[] = "/tmp/korvel-sysfs-XXXXXX";
        root = ::mkdtemp(tmpl);
        fs::create_directories(root + "/class/tty");
        fs::create_directories(root + "/bus/drivers/serial8250");
        fs::create_directories(root + "/bus/drivers/ftdi_sio");
    }
    ~FakeSysfs() { fs::remove_all(root); }

    // driver empty: a tty without hardware (virtual terminal, ptmx). uart_type < 0: no type attribute.
    void Add(const std::string& name, const std::string& driver, int uart_type = -1) {
        const fs::path entry = fs::path(root) / "class/tty" / name;
        fs::create_directories(entry);
        if (!driver.empty()) {
            fs::create_directories(entry / "device");
            fs::create_directory_symlink(fs::path(root) / "bus/drivers" / driver, entry / "device/driver");
        }
        if (uart_type >= 0) std::ofstream(entry / "type") << uart_type << "\n";
    }
    void Remove(const std::string& name) { fs::remove_all(fs::path(root) / "class/tty" / name); }
    void SetConsole(const std::string& active) {
        fs::create_directories(fs::path(root) / "class/tty/console");
        std::ofstream(fs::path(root) / "class/tty/console/active") << active << "\n";
    }

    std::string root;
};

TEST(SysfsPorts, ListsPortsWithHardwareInNaturalOrderThenTheExtraOnes) {
    FakeSysfs sys;
    sys.Add("tty0", "");
    sys.Add("ptmx", "");
    sys.Add("ttyS10", "serial8250", 4);
    sys.Add("ttyS2", "serial8250", 4);
    sys.Add("ttyS3", "serial8250", 0);  // an 8250 slot without a UART
    sys.Add("ttyUSB1", "ftdi_sio");
    sys.Add("ttyUSB0", "ftdi_sio");
    sys.Add("ttyS0", "serial8250", 4);
    sys.SetConsole("tty0 ttyS0");  // the kernel console is never offered

    SysfsPortEnumerator ports(sys.root);
    ports.SetExtraPorts({"/tmp/sim/port", "/dev/ttyS2", "/dev/pts/7"});
    EXPECT_EQ(ports.Paths(), (std::vector<std::string>{"/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0",
                                                       "/dev/ttyUSB1", "/tmp/sim/port", "/dev/pts/7"}));
    EXPECT_EQ(ports.List().front(), u"/dev/ttyS2");
}

TEST(SysfsPorts, MissingTreeListsOnlyTheExtraPortsAndReadsAsUnreadable) {
    SysfsPortEnumerator ports("/nonexistent-sysfs");
    ports.SetExtraPorts({"/dev/pts/3"});
    EXPECT_EQ(ports.List(), (std::vector<std::u16string>{u"/dev/pts/3"}));
    EXPECT_EQ(ports.Read(), std::nullopt);  // not an empty list
}

TEST(SysfsPorts, NaturalOrderComparesDigitRunsByValue) {
    struct Case {
        const char* a;
        const char* b;
        bool less;
    } cases[] = {
        {"ttyS2", "ttyS10", true},     {"ttyS10", "ttyS2", false}, {"ttyACM0", "ttyS0", true},
        {"ttyUSB9", "ttyUSB10", true}, {"ttyS1", "ttyS1", false},  {"ttyS", "ttyS0", true},
        {"ttyS01", "ttyS1", true},     {"ttyS1", "ttyS01", false}, {"ttyS1a", "ttyS1b", true},
    };
    for (const auto& c : cases) EXPECT_EQ(NaturalLess(c.a, c.b), c.less) << c.a << " < " << c.b;
}

using ListedPorts = testing::FakePortList;

TEST(HotplugMonitor, WithoutUdevEachTickReportsAChangedList) {
    ListedPorts ports;
    ports.names = {u"/dev/ttyUSB0"};
    std::vector<uintptr_t> events;
    HotplugMonitor monitor(
        ports, [&](uintptr_t e) { events.push_back(e); }, "/nonexistent/udev/control");
    EXPECT_FALSE(monitor.UsesUdev());
    EXPECT_EQ(monitor.Fd(), -1);

    struct Step {
        std::vector<std::u16string> names;
        std::vector<uintptr_t> expected;
    } steps[] = {
        {{u"/dev/ttyUSB0"}, {}},
        {{u"/dev/ttyUSB0", u"/dev/ttyUSB1"}, {DBT_DEVICEARRIVAL}},
        {{u"/dev/ttyUSB1", u"/dev/ttyUSB0"}, {DBT_DEVICEARRIVAL}},  // same names, new order
        {{u"/dev/ttyUSB1"}, {DBT_DEVICEREMOVECOMPLETE}},
        {{u"/dev/ttyUSB1"}, {}},
        {{u"/dev/ttyACM0"}, {DBT_DEVICEREMOVECOMPLETE}},  // one gone and one new between two ticks
    };
    for (const auto& step : steps) {
        ports.names = step.names;
        events.clear();
        monitor.Tick();
        EXPECT_EQ(events, step.expected);
    }
}

TEST(HotplugMonitor, WithUdevRunningItListensOnADescriptorInsteadOfRescanning) {
    FakeSysfs sys;  // stands in for /run/udev/control: the monitor only asks whether it exists
    const std::string control = sys.root + "/control";
    std::ofstream(control) << "";
    ListedPorts ports;
    std::vector<uintptr_t> events;
    HotplugMonitor monitor(
        ports, [&](uintptr_t e) { events.push_back(e); }, control);
    if (!monitor.UsesUdev()) GTEST_SKIP() << "no udev netlink socket in this sandbox";
    EXPECT_GE(monitor.Fd(), 0);
    ports.names = {u"/dev/ttyUSB0"};
    monitor.Tick();  // udev reports changes; the tick does not rescan
    monitor.OnReadable();
    EXPECT_EQ(ports.calls, 0);
    EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace korvel
