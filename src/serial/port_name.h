// SPDX-License-Identifier: MIT
// Port names as the combo box shows them (UTF-16) and as the system opens them (UTF-8 paths).
#pragma once

#include <string>
#include <string_view>

namespace korvel {

std::string PortPath(std::u16string_view name);
std::u16string PortName(std::string_view path);

}  // namespace korvel
