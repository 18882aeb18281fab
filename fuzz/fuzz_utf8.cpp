// SPDX-License-Identifier: MIT
// The validator and both conversions on arbitrary bytes, and the conversions on arbitrary UTF-16.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/utf8.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Well-formed UTF-8 in the multi-byte sense: control bytes allowed, which the strict validator refuses.
bool IsWellFormed(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : 2;
        if (i + len > s.size()) return false;
        std::string seq = s.substr(i, len);
        if (!korvel::IsValidUtf8(seq.c_str())) return false;
        i += len;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text_part = bytes.substr(0, bytes.find('\0'));

    const bool valid = korvel::IsValidUtf8(bytes.c_str());
    const std::u16string wide = korvel::Utf8ToWide(bytes);
    Check(wide.size() <= text_part.size());
    Check(wide.find(u'\0') == std::u16string::npos);
    const std::string back = korvel::WideToUtf8(wide);
    if (valid) Check(back == text_part);  // valid input round-trips exactly
    Check(IsWellFormed(back));
    Check(korvel::Utf8ToWide(back) == wide);

    // The same bytes read as UTF-16 units: unpaired surrogates become U+FFFD, the result is well-formed.
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    const std::string encoded = korvel::WideToUtf8(units);
    Check(IsWellFormed(encoded));
    Check(encoded.size() <= 3 * units.size());
    return 0;
}
