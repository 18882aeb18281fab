// SPDX-License-Identifier: MIT
// printf-style formatting into UTF-16 texts. The format and the text arguments stay UTF-16 throughout;
// only the numbers are converted as bytes, so any character may stand in a format or an argument. Numbers
// are written with a decimal point whatever the process locale says (a window toolkit may set a locale
// with a decimal comma from the environment): the texts are fixed.
//
//   Format(u"%u (%.1f小时)", count, hours)     Format(u"%s %s %s", a, b, c)
//
// Conversions: d i u x X o c (integers), f F e E g G (numbers), s (UTF-16 texts), %% (a percent sign).
// Flags, width and precision are taken as printf takes them; length modifiers (l, ll, h, z, ...) are
// accepted and ignored, since the argument's own type decides. A conversion that does not match its
// argument, or has none, is copied into the result as written.
#pragma once

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvel {

class FormatArg {
  public:
    enum class Kind { Signed, Unsigned, Real, Text };

    template <std::signed_integral T>
    FormatArg(T v) : kind_(Kind::Signed), bytes_(sizeof(T)), signed_(v) {}
    template <std::unsigned_integral T>
    requires(!std::same_as<T, bool>) FormatArg(T v)
        : kind_(Kind::Unsigned), bytes_(sizeof(T)), unsigned_(v) {}
    template <std::floating_point T>
    FormatArg(T v) : kind_(Kind::Real), real_(static_cast<double>(v)) {}
    FormatArg(std::u16string_view v) : kind_(Kind::Text), text_(v) {}
    FormatArg(const std::u16string& v) : kind_(Kind::Text), text_(v) {}
    FormatArg(const char16_t* v) : kind_(Kind::Text), text_(v) {}

    Kind kind() const { return kind_; }
    // The value as printf would see it for a signed or an unsigned conversion of the argument's width.
    long long AsSigned() const;
    unsigned long long AsUnsigned() const;
    double AsReal() const { return real_; }
    std::u16string_view AsText() const { return text_; }

  private:
    Kind kind_;
    unsigned bytes_ = 8;
    long long signed_ = 0;
    unsigned long long unsigned_ = 0;
    double real_ = 0;
    std::u16string_view text_;
};

std::u16string FormatArgs(std::u16string_view format, std::span<const FormatArg> args);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return FormatArgs(format, list);
}

}  // namespace korvel
