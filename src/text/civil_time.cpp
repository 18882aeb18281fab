// SPDX-License-Identifier: MIT
#include "text/civil_time.h"

#include <cstdio>

namespace korvel {
namespace {

void AppendTwo(std::string& out, unsigned value) {
    out += static_cast<char>('0' + value / 10 % 10);
    out += static_cast<char>('0' + value % 10);
}

}  // namespace

void AppendClockText(std::string& out, int64_t seconds, char separator) {
    const CivilTime c = CivilFromSeconds(seconds);
    if (c.year >= 0 && c.year <= 9999) {
        const auto year = static_cast<unsigned>(c.year);
        AppendTwo(out, year / 100);
        AppendTwo(out, year % 100);
    } else {
        char year[24];
        std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(c.year));
        out += year;
    }
    out += '-';
    AppendTwo(out, c.month);
    out += '-';
    AppendTwo(out, c.day);
    out += separator;
    AppendTwo(out, c.hour);
    out += ':';
    AppendTwo(out, c.minute);
    out += ':';
    AppendTwo(out, c.second);
}

std::string ClockText(int64_t seconds) {
    std::string out;
    AppendClockText(out, seconds, ' ');
    return out;
}

std::string DateText(int64_t seconds) {
    std::string text = ClockText(seconds);
    text.resize(text.size() - 9);  // " hh:mm:ss"
    return text;
}

std::string UtcText(int64_t utc) {
    std::string out;
    AppendClockText(out, utc, 'T');
    out += 'Z';
    return out;
}

std::string DurationText(int64_t seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace korvel
