// SPDX-License-Identifier: MIT
#include "text/utf8.h"

namespace korvel {

std::string WideToUtf8(std::u16string_view) { return {}; }
std::u16string Utf8ToWide(std::string_view) { return {}; }
bool IsValidUtf8(const char*) { return false; }

}  // namespace korvel
