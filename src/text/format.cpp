// SPDX-License-Identifier: MIT
#include "text/format.h"

#include <charconv>
#include <cmath>
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

struct Flags {
    bool left = false, plus = false, space = false, alt = false, zero = false;
};

// The digits of a number in one of the three forms of printf, in the C locale's notation whatever the
// process locale is (a decimal point, never a comma). Sign, padding and case are the caller's.
std::string RealDigits(double magnitude, char16_t conv, int precision, bool alt) {
    char buffer[400];  // DBL_MAX in fixed notation has 309 digits before the point
    const auto print = [&](std::chars_format form, int digits) {
        return std::string(buffer,
                           std::to_chars(buffer, buffer + sizeof buffer, magnitude, form, digits).ptr);
    };
    const char16_t lower = conv | 0x20;
    if (lower == u'f') {
        std::string out = print(std::chars_format::fixed, precision);
        if (alt && precision == 0) out += '.';
        return out;
    }
    if (lower == u'e') {
        std::string out = print(std::chars_format::scientific, precision);
        if (alt && precision == 0) out.insert(out.find('e'), ".");
        return out;
    }
    // %g: P significant digits, fixed or scientific by the exponent X; trailing zeros go unless '#'.
    const int p = precision == 0 ? 1 : precision;
    const std::string sci = print(std::chars_format::scientific, p - 1);
    const int x = std::stoi(sci.substr(sci.find('e') + 1));
    std::string out = p > x && x >= -4 ? print(std::chars_format::fixed, p - 1 - x) : sci;
    const size_t e = out.find('e');
    std::string mantissa = out.substr(0, e);
    const std::string exponent = e == std::string::npos ? "" : out.substr(e);
    if (alt) {
        if (mantissa.find('.') == std::string::npos) mantissa += '.';
    } else if (mantissa.find('.') != std::string::npos) {
        while (mantissa.back() == '0') mantissa.pop_back();
        if (mantissa.back() == '.') mantissa.pop_back();
    }
    return mantissa + exponent;
}

std::u16string FormatReal(double value, char16_t conv, Flags flags, int width, int precision) {
    const bool negative = std::signbit(value);
    const double magnitude = std::fabs(value);
    std::string digits;
    if (std::isnan(value)) {
        digits = "nan";
    } else if (std::isinf(value)) {
        digits = "inf";
    } else {
        digits = RealDigits(magnitude, conv, precision < 0 ? 6 : precision, flags.alt);
    }
    if (conv == u'F' || conv == u'E' || conv == u'G') {
        for (char& c : digits) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    const std::string sign = negative ? "-" : flags.plus ? "+" : flags.space ? " " : "";
    const size_t length = sign.size() + digits.size();
    const size_t pad = width > 0 && static_cast<size_t>(width) > length ? width - length : 0;
    std::string out;
    if (flags.left) {
        out = sign + digits + std::string(pad, ' ');
    } else if (flags.zero && std::isfinite(value)) {
        out = sign + std::string(pad, '0') + digits;
    } else {
        out = std::string(pad, ' ') + sign + digits;
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
        Flags flags;
        while (i < format.size() && IsFlag(format[i])) {
            flags.left = flags.left || format[i] == u'-';
            flags.plus = flags.plus || format[i] == u'+';
            flags.space = flags.space || format[i] == u' ';
            flags.alt = flags.alt || format[i] == u'#';
            flags.zero = flags.zero || format[i] == u'0';
            conversion += static_cast<char>(format[i++]);
        }
        const bool left = flags.left;
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
                if (matched) piece = FormatReal(arg->AsReal(), conv, flags, width, precision);
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
