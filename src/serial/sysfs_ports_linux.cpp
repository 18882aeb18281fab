// SPDX-License-Identifier: MIT
#include "serial/sysfs_ports.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "serial/port_name.h"

namespace korvel {
namespace fs = std::filesystem;
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string ReadFirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The ports behind the kernel console: a getty or the kernel owns them, and opening one would disturb
// the machine.
std::set<std::string> ConsolePorts(const fs::path& tty_class) {
    std::set<std::string> names;
    std::istringstream active(ReadFirstLine(tty_class / "console" / "active"));
    for (std::string name; active >> name;) names.insert(name);
    return names;
}

bool HasHardware(const fs::path& entry) {
    std::error_code ec;
    if (!fs::exists(entry / "device" / "driver", ec)) return false;  // virtual terminals, ptmx, console
    // Serial-core ports publish their UART type; 0 (PORT_UNKNOWN) is a legacy 8250 slot with no UART
    // behind it. Reading the attribute spares opening the device.
    const fs::path type = entry / "type";
    if (fs::exists(type, ec)) return ReadFirstLine(type) != "0";
    return true;
}

}  // namespace

bool NaturalLess(std::string_view a, std::string_view b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            size_t ie = i, je = j;
            while (ie < a.size() && IsDigit(a[ie])) ++ie;
            while (je < b.size() && IsDigit(b[je])) ++je;
            std::string_view da = a.substr(i, ie - i), db = b.substr(j, je - j);
            while (da.size() > 1 && da[0] == '0') da.remove_prefix(1);
            while (db.size() > 1 && db[0] == '0') db.remove_prefix(1);
            if (da.size() != db.size()) return da.size() < db.size();
            if (da != db) return da < db;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;  // "ttyS01" and "ttyS1" still get a fixed order
}

std::vector<std::string> SysfsPortEnumerator::Paths(bool* readable) const {
    const fs::path tty_class = fs::path(sysfs_) / "class" / "tty";
    const auto consoles = ConsolePorts(tty_class);
    std::vector<std::string> paths;
    std::error_code ec;
    for (fs::directory_iterator it(tty_class, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (consoles.count(name) || !HasHardware(it->path())) continue;
        paths.push_back("/dev/" + name);
    }
    if (readable) *readable = !ec;
    std::sort(paths.begin(), paths.end(), [](const auto& x, const auto& y) { return NaturalLess(x, y); });
    for (const auto& extra : extra_)
        if (std::find(paths.begin(), paths.end(), extra) == paths.end()) paths.push_back(extra);
    return paths;
}

std::optional<std::vector<std::u16string>> SysfsPortEnumerator::Read() {
    bool readable = true;
    const auto paths = Paths(&readable);
    if (!readable) return std::nullopt;
    std::vector<std::u16string> names;
    for (const auto& path : paths) names.push_back(PortName(path));
    return names;
}

std::vector<std::u16string> SysfsPortEnumerator::List() {
    std::vector<std::u16string> names;
    for (const auto& path : Paths()) names.push_back(PortName(path));
    return names;
}

}  // namespace korvel
