// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// Reads a decimal integer as the device's numbers are read everywhere in korvel: leading white space is
// skipped, an optional sign taken, digits read up to the first other character; no digits give 0.
// Values beyond the int range saturate instead of wrapping.
int ToInt(std::u16string_view text);
int ToInt(std::string_view text);

// A count and its noun as the English texts write it: "1 file", "2 files", "0 files".
std::string Plural(int64_t count, std::string_view one, std::string_view many);

}  // namespace korvel
