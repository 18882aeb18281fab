// SPDX-License-Identifier: MIT
#include "serial/port_name.h"

#include "text/utf8.h"

namespace korvel {

std::string PortPath(std::u16string_view name) { return WideToUtf8(name); }

std::u16string PortName(std::string_view path) { return Utf8ToWide(path); }

}  // namespace korvel
