// SPDX-License-Identifier: MIT
// User-interface text is UTF-16; everything on the serial line and in record files is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace korvel {

// Both stop at the first NUL. Unpaired surrogates and malformed UTF-8 become U+FFFD (maximal subparts).
std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view bytes);

// The strict validator: only TAB, LF, CR and 0x20-0x7E as single bytes, well-formed multi-byte
// sequences otherwise; the string ends at its first zero byte. A null pointer is invalid.
bool IsValidUtf8(const char* p);

// True when the bytes survive the way through UTF-16 text unchanged: well-formed UTF-8 without a zero
// byte. Paths that do not cannot be held by the dialog's text.
bool HoldsAsText(std::string_view bytes);

}  // namespace korvel
