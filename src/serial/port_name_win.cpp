// SPDX-License-Identifier: MIT
// COM port names: the combo box shows "COM5"; the device path is "\\.\COM5".
#include <cstdio>

#include "serial/port_name.h"
#include "text/number.h"
#include "text/utf8.h"

namespace korvel {

std::string PortPath(std::u16string_view name) {
    // Upper case, every "COM" removed, the rest read as a number: "com12" gives 12, "\\.\COM10" gives
    // 10. A name without a number, or a number too long for "\\.\COM%d" in 15 characters, opens nothing.
    std::u16string rest;
    for (char16_t c : name) rest += (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
    for (size_t at; (at = rest.find(u"COM")) != std::u16string::npos;) rest.erase(at, 3);
    if (rest.rfind(u"\\\\.\\", 0) == 0) rest.erase(0, 4);
    const int number = ToInt(rest);
    if (number <= 0 || number > 9999999) return {};
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\COM%d", number);
    return path;
}

std::u16string PortName(std::string_view path) {
    // A device path given on the command line is listed under its port name.
    if (path.rfind("\\\\.\\", 0) == 0) path.remove_prefix(4);
    return Utf8ToWide(path);
}

}  // namespace korvel
