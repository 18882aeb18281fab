// SPDX-License-Identifier: MIT
// The printf-style formatting into UTF-16 texts that every shown number goes through.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "text/format.h"

namespace korvel {
namespace {

TEST(Format, NumbersTakePrintfForms) {
    EXPECT_EQ(Format(u"%u (%.1f小时)", 100u, 12100 / 3600.0), u"100 (3.4小时)");
    EXPECT_EQ(Format(u"%.01f%%", 25.0), u"25.0%");
    EXPECT_EQ(Format(u"读取完成，耗时%u秒", uint32_t{7}), u"读取完成，耗时7秒");
    EXPECT_EQ(Format(u"%u(%u)", uint32_t{4294967295u}, uint32_t{0}), u"4294967295(0)");
    EXPECT_EQ(Format(u"%+03d:%02d", -3, 30), u"-03:30");
    EXPECT_EQ(Format(u"%+03d:%02d", 0, 0), u"+00:00");
    EXPECT_EQ(Format(u"%04u-%02u-%02u", 2024u, 3u, 5u), u"2024-03-05");
    EXPECT_EQ(Format(u"%04d", 123), u"0123");
    EXPECT_EQ(Format(u"%x %X", 0xabcu, 0xabcu), u"abc ABC");
}

TEST(Format, ArgumentWidthDecidesWrapping) {
    EXPECT_EQ(Format(u"%u", -1), u"4294967295");  // an int under %u, as printf shows it
    EXPECT_EQ(Format(u"%d", uint32_t{4294967295u}), u"-1");
    EXPECT_EQ(Format(u"%d", int64_t{-5000000000}), u"-5000000000");
    EXPECT_EQ(Format(u"%lu", 5u), u"5");  // length modifiers are accepted
}

TEST(Format, TextsStayUtf16) {
    const std::u16string a = u"A";
    EXPECT_EQ(Format(u"%s %s %s", a, std::u16string_view(u"2"), u"固件"), u"A 2 固件");
    EXPECT_EQ(Format(u"%s%u %u %d", u"get", 2u, 17, -12), u"get2 17 -12");
    EXPECT_EQ(Format(u"[%3s|%-3s|%.1s]", u"a", u"b", u"xyz"), u"[  a|b  |x]");
    const std::u16string lone(1, static_cast<char16_t>(0xD800));  // unpaired surrogate passes through
    EXPECT_EQ(Format(u"<%s>", lone), u"<" + lone + u">");
}

TEST(Format, MismatchedOrMissingSpecsAreCopied) {
    EXPECT_EQ(Format(u"%u %u", 1u), u"1 %u");
    EXPECT_EQ(Format(u"%s", 5), u"%s");
    EXPECT_EQ(Format(u"%d", 1.5), u"%d");
    EXPECT_EQ(Format(u"%q", 1), u"%q");
    EXPECT_EQ(Format(u"100%"), u"100%");
    EXPECT_EQ(Format(u"no args"), u"no args");
}

std::u16string Widen(const std::string& s) { return {s.begin(), s.end()}; }

// Every real conversion agrees with the C library's printf in the C locale.
TEST(Format, RealsMatchPrintfInTheCLocale) {
    const char* const formats[] = {"%.1f",   "%f",    "%.01f%%", "%e",    "%.3E",   "%g",    "%G",
                                   "%#g",    "%.0g",  "%#.0f",   "%#.0e", "%+8.3f", "% g",   "%-9.2e|",
                                   "%08.2f", "%010g", "%.10g",   "%F",    "%.0f",   "%#.3g", "%+.2e"};
    const double values[] = {0.0,
                             -0.0,
                             8.4,
                             1101.3,
                             0.05,
                             0.25,
                             2.5,
                             -2.5,
                             1e-5,
                             1e-4,
                             123456,
                             1e15,
                             1e300,
                             -1e-300,
                             99.95,
                             1e6,
                             999999.4,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::nan("")};
    for (const char* format : formats) {
        for (double value : values) {
            char expected[512];
            std::snprintf(expected, sizeof expected, format, value);
            EXPECT_EQ(Format(Widen(format), value), Widen(expected)) << format << " with " << expected;
        }
    }
    // Where rounding carries into a new digit, %#g keeps its zeros (the C library here writes "1.e+06").
    EXPECT_EQ(Format(u"%#g", 999999.5), u"1.00000e+06");
}

// A locale with a decimal comma, as a window toolkit sets from the environment, changes no text.
TEST(Format, RealsKeepTheirPointUnderADecimalCommaLocale) {
    const std::string before = std::setlocale(LC_NUMERIC, nullptr);
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 8.4);
    const std::u16string hours = Format(u"%u (%.1f小时)", 250u, 250 * 121 / 3600.0);
    const std::u16string percent = Format(u"%.01f%%", 25.0);
    const std::u16string small = Format(u"%g|%e", 0.5, 1.5);
    std::setlocale(LC_NUMERIC, before.c_str());
    ASSERT_STREQ(probe, "8,4");  // the locale really has a decimal comma
    EXPECT_EQ(hours, u"250 (8.4小时)");
    EXPECT_EQ(percent, u"25.0%");
    EXPECT_EQ(small, u"0.5|1.500000e+00");
}

}  // namespace
}  // namespace korvel
