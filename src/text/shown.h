// SPDX-License-Identifier: MIT
// Text from the device or the file system (names, values, messages) as plain text for a terminal, a log
// or a JSON string: well-formed UTF-8 passes; control characters (C0, DEL, C1) and bytes that are not
// UTF-8 are shown escaped as \xNN, never passed on to be interpreted. The one place that decides it.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

std::string Shown(std::string_view bytes);
std::string Shown(std::u16string_view text);  // an unpaired surrogate is shown as \u{d800}

}  // namespace korvel
