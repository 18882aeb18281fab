// SPDX-License-Identifier: MIT
#include "text/format.h"

#include <cstdio>
#include <string>

namespace korvel {
namespace {

bool IsFlag(char16_t c) { return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'0'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsLength(char16_t c) {
    return c == u'h' || c == u'l' || c == u'L' || c == u'q' || c == u'j' || c == u'z' || c == u't';
}

// Runs snprintf with one argument; the conversion is plain ASCII.
template <typename T>
std::u16string Printf(const std::string& conversion, T value) {
    char small[64];
    int n = std::snprintf(small, sizeof small, conversion.c_str(), value);
    if (n < 0) return {};
    std::string out;
    if (static_cast<size_t>(n) < sizeof small) {
        out.assign(small, static_cast<size_t>(n));
    } else {
        out.resize(static_cast<size_t>(n) + 1);
        std::snprintf(out.data(), out.size(), conversion.c_str(), value);
        out.resize(static_cast<size_t>(n));
    }
    return std::u16string(out.begin(), out.end());
}

// Pads a text argument to the width the way printf pads %s (the precision cuts it first).
std::u16string PadText(std::u16string_view text, bool left, int width, int precision) {
    if (precision >= 0 && static_cast<size_t>(precision) < text.size()) text = text.substr(0, precision);
    std::u16string out;
    size_t pad = width > 0 && static_cast<size_t>(width) > text.size() ? width - text.size() : 0;
    if (!left) out.append(pad, u' ');
    out.append(text);
    if (left) out.append(pad, u' ');
    return out;
}

}  // namespace

long long FormatArg::AsSigned() const {
    if (kind_ == Kind::Signed) return signed_;
    // An unsigned argument under %d reads as the signed number of the same width.
    switch (bytes_) {
        case 1:
            return static_cast<int8_t>(unsigned_);
        case 2:
            return static_cast<int16_t>(unsigned_);
        case 4:
            return static_cast<int32_t>(unsigned_);
        default:
            return static_cast<long long>(unsigned_);
    }
}

unsigned long long FormatArg::AsUnsigned() const {
    if (kind_ == Kind::Unsigned) return unsigned_;
    // A negative argument under %u or %x wraps within its own width, as printf does for an int.
    const auto bits = static_cast<unsigned long long>(signed_);
    return bytes_ >= 8 ? bits : bits & ((1ull << (8 * bytes_)) - 1);
}

std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args) {
    std::u16string out;
    size_t next_arg = 0;
    size_t i = 0;
    while (i < format.size()) {
        if (format[i] != u'%') {
            out += format[i++];
            continue;
        }
        const size_t start = i++;
        std::string conversion = "%";
        bool left = false;
        while (i < format.size() && IsFlag(format[i])) {
            left = left || format[i] == u'-';
            conversion += static_cast<char>(format[i++]);
        }
        int width = 0;
        while (i < format.size() && IsDigit(format[i])) {
            width = width * 10 + (format[i] - u'0');
            conversion += static_cast<char>(format[i++]);
        }
        int precision = -1;
        if (i < format.size() && format[i] == u'.') {
            conversion += static_cast<char>(format[i++]);
            precision = 0;
            while (i < format.size() && IsDigit(format[i])) {
                precision = precision * 10 + (format[i] - u'0');
                conversion += static_cast<char>(format[i++]);
            }
        }
        while (i < format.size() && IsLength(format[i])) ++i;
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        const char16_t conv = format[i++];
        if (conv == u'%' && conversion == "%") {
            out += u'%';
            continue;
        }
        const FormatArg* arg = next_arg < args.size() ? &args[next_arg] : nullptr;
        const auto kind = arg ? arg->kind() : FormatArg::Kind::Text;
        std::u16string piece;
        bool matched = arg != nullptr;
        switch (conv) {
            case u'd':
            case u'i':
                matched = matched && kind != FormatArg::Kind::Real && kind != FormatArg::Kind::Text;
                if (matched) piece = Printf(conversion + "lld", arg->AsSigned());
                break;
            case u'u':
            case u'x':
            case u'X':
            case u'o':
                matched = matched && kind != FormatArg::Kind::Real && kind != FormatArg::Kind::Text;
                if (matched) piece = Printf(conversion + "ll" + static_cast<char>(conv), arg->AsUnsigned());
                break;
            case u'c':
                matched = matched && kind != FormatArg::Kind::Real && kind != FormatArg::Kind::Text;
                if (matched) {
                    const auto c = static_cast<char16_t>(arg->AsUnsigned());
                    piece = PadText(std::u16string_view(&c, 1), left, width, -1);
                }
                break;
            case u'f':
            case u'F':
            case u'e':
            case u'E':
            case u'g':
            case u'G':
                matched = matched && kind == FormatArg::Kind::Real;
                if (matched) piece = Printf(conversion + static_cast<char>(conv), arg->AsReal());
                break;
            case u's':
                matched = matched && kind == FormatArg::Kind::Text;
                if (matched) piece = PadText(arg->AsText(), left, width, precision);
                break;
            default:
                matched = false;
        }
        if (matched) {
            out += piece;
            ++next_arg;
        } else {
            out.append(format.substr(start, i - start));
        }
    }
    return out;
}

}  // namespace korvel
