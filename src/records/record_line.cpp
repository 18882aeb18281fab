// SPDX-License-Identifier: MIT
#include "records/record_line.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "text/civil_time.h"
#include "text/number.h"
#include "text/shown.h"

namespace korvel {
namespace {

constexpr size_t kKeyLength = kTimestampKeyLength;
constexpr size_t kOffsetLength = 6;  // "+08:00"
// No record line comes near this; longer lines are damage and are not checksummed byte by byte.
constexpr size_t kLongestLine = 4096;

constexpr const char* kReasons[] = {
    "empty line",
    "far too long for a record line",
    "the line ends in CR; record lines end in LF alone",
    "no checksum at the end of the line",
    "the checksum is not four hexadecimal digits",
    "checksum mismatch",
    "not a record line of the form YYYY-MM-DD hh:mm:ss+hh:mm VALUE PRODUCT",
    "more fields than date, time, value and product",
};

bool SameProduct(std::string_view field, uint32_t named) { return ProductFieldNumber(field) == named; }

// HexDigitValue of every byte, looked up.
constexpr std::array<int8_t, 256> MakeHexDigits() {
    std::array<int8_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = static_cast<int8_t>(HexDigitValue(static_cast<char32_t>(c)));
    return table;
}
constexpr std::array<int8_t, 256> kHexDigits = MakeHexDigits();

// The value of a decimal digit; anything else gives more than 9.
unsigned Digit(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// Fixed-length comparisons as a few word loads rather than a call.
uint64_t Load8(const char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}
uint32_t Load4(const char* p) {
    uint32_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}
bool SameHead(const char* a, const char* b) {  // 14 bytes: two overlapping words
    return ((Load8(a) ^ Load8(b)) | (Load8(a + 6) ^ Load8(b + 6))) == 0;
}
bool SameOffset(const char* a, const char* b) {  // 6 bytes
    return ((Load4(a) ^ Load4(b)) | (Load4(a + 2) ^ Load4(b + 2))) == 0;
}

}  // namespace

std::optional<uint32_t> ProductFieldNumber(std::string_view field) {
    const bool negative = !field.empty() && field[0] == '-';
    if (negative) field.remove_prefix(1);
    if (field.empty() || field.size() > 20) return {};
    uint64_t value = 0;
    for (char c : field) {
        if (c < '0' || c > '9') return {};
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) return {};
    }
    if (!negative) return static_cast<uint32_t>(value);
    if (value == 0 || value > 0x80000000u) return {};
    return static_cast<uint32_t>((uint64_t{1} << 32) - value);
}

// "YYYY-MM-DD hh:mm:ss" (with `separator` between date and time) as seconds of that clock time.
std::optional<int64_t> ParseClockTime(std::string_view text, char separator) {
    if (text.size() < kKeyLength || text[4] != '-' || text[7] != '-' || text[10] != separator ||
        text[13] != ':' || text[16] != ':')
        return {};
    const int y = DecimalDigits(text, 0, 4), mo = DecimalDigits(text, 5, 2), d = DecimalDigits(text, 8, 2);
    const int h = DecimalDigits(text, 11, 2), mi = DecimalDigits(text, 14, 2), s = DecimalDigits(text, 17, 2);
    if (y < 0 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return {};
    if (static_cast<unsigned>(d) > DaysInMonth(y, static_cast<unsigned>(mo))) return {};
    return DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 +
           mi * 60 + s;
}

// "+hh:mm" / "-hh:mm" as minutes east of UTC.
std::optional<int> ParseOffset(std::string_view text, bool* minus_zero) {
    if (text.size() != kOffsetLength || (text[0] != '+' && text[0] != '-') || text[3] != ':') return {};
    const int h = DecimalDigits(text, 1, 2), m = DecimalDigits(text, 4, 2);
    if (h < 0 || m < 0 || m > 59) return {};
    const int minutes = h * 60 + m;
    if (minus_zero) *minus_zero = text[0] == '-' && minutes == 0;
    return text[0] == '-' ? -minutes : minutes;
}

bool ValueIsNumber(std::string_view value) {
    double number = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
    return error == std::errc() && end == value.data() + value.size() && std::isfinite(number);
}

std::string DamageReason(LineDamage damage, std::string_view product_field, uint32_t named) {
    if (damage == LineDamage::kOtherProduct)
        return "the product number " + Shown(product_field) + " is not the file's " + std::to_string(named);
    const auto index = static_cast<size_t>(damage);
    return index < std::size(kReasons) ? kReasons[index] : "";
}

void RecordLineChecker::ExpectProduct(std::optional<uint32_t> product) {
    named_ = product;
    product_text_ = "\n";
}

RecordLine RecordLineChecker::Check(std::string_view line) {
    RecordLine parsed;
    auto damaged = [&](LineDamage reason) {
        parsed.damage = reason;
        return parsed;
    };
    if (line.empty()) return damaged(LineDamage::kEmpty);
    if (line.size() > kLongestLine) return damaged(LineDamage::kTooLong);
    if (line.back() == '\r') return damaged(LineDamage::kCarriageReturn);
    if (line.size() <= 5 || line[line.size() - 5] != ' ') return damaged(LineDamage::kNoChecksum);
    const char* digits = line.data() + line.size() - 4;
    const int d0 = kHexDigits[static_cast<unsigned char>(digits[0])],
              d1 = kHexDigits[static_cast<unsigned char>(digits[1])],
              d2 = kHexDigits[static_cast<unsigned char>(digits[2])],
              d3 = kHexDigits[static_cast<unsigned char>(digits[3])];
    if ((d0 | d1 | d2 | d3) < 0) return damaged(LineDamage::kChecksumDigits);
    const auto expected = static_cast<unsigned>(d0 << 12 | d1 << 8 | d2 << 4 | d3);
    const std::string_view body(line.data(), line.size() - 5);
    uint16_t crc = 0;
    if (body.size() >= kHeadLength) {
        if (!have_head_ || !SameHead(body.data(), head_)) Head(body.data());
        crc = Crc16Update(head_crc_, reinterpret_cast<const uint8_t*>(body.data()) + kHeadLength,
                          static_cast<int32_t>(body.size() - kHeadLength));
    } else {
        crc = Crc16(body);
    }
    if (crc != expected) return damaged(LineDamage::kChecksumMismatch);

    // date, time with its offset, value, product: "2022-07-30 10:15:42+08:00 125 0123"
    constexpr size_t kValueAt = kKeyLength + kOffsetLength + 1;
    // The space before the product field, searched from the end (SIZE_MAX when there is none).
    size_t last_space = body.size() - 1;
    while (last_space != SIZE_MAX && body[last_space] != ' ') --last_space;
    if (body.size() <= kValueAt || body[kValueAt - 1] != ' ' || last_space <= kValueAt)
        return damaged(LineDamage::kNotARecord);
    // The head holds the date and the hour; minutes and seconds follow it, "mm:ss".
    const unsigned m1 = Digit(body[14]), m2 = Digit(body[15]), s1 = Digit(body[17]), s2 = Digit(body[18]);
    if (!head_is_time_ || body[16] != ':' || m1 > 5 || m2 > 9 || s1 > 5 || s2 > 9 ||
        !Offset(body.data() + kKeyLength))
        return damaged(LineDamage::kNotARecord);
    parsed.value = std::string_view(body.data() + kValueAt, last_space - kValueAt);
    parsed.product = std::string_view(body.data() + last_space + 1, body.size() - last_space - 1);
    for (char c : parsed.value)
        if (c == ' ') return damaged(LineDamage::kExtraFields);
    if (!SameShortText(parsed.product, product_text_)) {
        product_text_.assign(parsed.product);
        product_ok_ = !named_ || SameProduct(parsed.product, *named_);
    }
    if (!product_ok_) return damaged(LineDamage::kOtherProduct);
    parsed.clock = head_clock_ + (m1 * 10 + m2) * 60 + s1 * 10 + s2;
    parsed.offset = offset_;
    parsed.minus_zero = minus_zero_;
    return parsed;
}

void RecordLineChecker::Head(const char* text) {
    std::memcpy(head_, text, kHeadLength);
    have_head_ = true;
    head_crc_ = Crc16(reinterpret_cast<const uint8_t*>(text), kHeadLength);
    char midnight_text[kKeyLength];
    std::memcpy(midnight_text, text, 10);
    std::memcpy(midnight_text + 10, " 00:00:00", 9);
    const std::optional<int64_t> midnight = ParseClockTime(std::string_view(midnight_text, kKeyLength), ' ');
    const int hour = DecimalDigits(std::string_view(text, kHeadLength), 11, 2);
    head_is_time_ = midnight && text[10] == ' ' && text[13] == ':' && hour >= 0 && hour <= 23;
    head_clock_ = head_is_time_ ? *midnight + hour * 3600 : 0;
}

bool RecordLineChecker::Offset(const char* text) {
    if (have_offset_ && SameOffset(text, offset_text_)) return true;
    const std::optional<int> offset = ParseOffset(std::string_view(text, kOffsetLength), &minus_zero_);
    if (!offset) return false;
    std::memcpy(offset_text_, text, kOffsetLength);
    have_offset_ = true;
    offset_ = *offset;
    return true;
}

}  // namespace korvel
