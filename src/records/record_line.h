// SPDX-License-Identifier: MIT
// The check of one saved record line, "2022-07-30 10:15:42+08:00 125 0123 cba8", and the one list of what
// can be wrong with a line, with the sentences that say it. archive and verify both use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvel {

enum class LineDamage : int8_t {
    kNone = -1,
    kEmpty,
    kTooLong,
    kCarriageReturn,
    kNoChecksum,
    kChecksumDigits,
    kChecksumMismatch,
    kNotARecord,
    kExtraFields,
    kOtherProduct,  // the product field is not the number of the file's name
};

// A value as the device wrote it is a number when it reads as a finite one ("125", "-3", "1.5"); "nan",
// "inf", words, markup and control bytes are no number. Such a record stays as written and is reported.
bool ValueIsNumber(std::string_view value);

// The sentence for a damaged line; product_field and named complete the one for kOtherProduct.
std::string DamageReason(LineDamage damage, std::string_view product_field = {}, uint32_t named = 0);

struct RecordLine {
    LineDamage damage = LineDamage::kNone;
    int64_t clock = 0;        // the timestamp's clock time, seconds since 1970-01-01 of that clock
    int offset = 0;           // minutes east of UTC
    bool minus_zero = false;  // the offset is written "-00:00"
    std::string_view value;   // into the line; also set for kOtherProduct
    std::string_view product;
};

// Checks lines one after the other; neighbouring lines share their date, offset and product field, so
// those are only worked out when they change.
class RecordLineChecker {
  public:
    // The product number every line must carry; without one, any product field passes.
    void ExpectProduct(std::optional<uint32_t> product);
    RecordLine Check(std::string_view line);  // the line without its LF

  private:
    // "YYYY-MM-DD hh:", which neighbouring lines mostly share.
    static constexpr size_t kHeadLength = 14;
    void Head(const char* text);
    bool Offset(const char* text);

    std::optional<uint32_t> named_;
    std::string product_text_ = "\n";  // no field is this, so the first line works it out
    bool product_ok_ = false;
    // The head of the line before: the checksum register after it, and when it is a record's date and
    // hour, the clock time it stands for.
    char head_[kHeadLength] = {};
    bool have_head_ = false;
    uint16_t head_crc_ = 0;
    bool head_is_time_ = false;
    int64_t head_clock_ = 0;
    char offset_text_[6] = {};
    bool have_offset_ = false;
    int offset_ = 0;
    bool minus_zero_ = false;
};

// The number a product field as the device writes it names, the one reading of it everywhere (a line's
// field, the device's answer to "info", --product): digits, leading zeros allowed ("0123" is 123); a
// negative number by its unsigned 32-bit form, as the download names its file ("-1" is 4294967295);
// nothing for any other text ("123x", "+123", " 123").
std::optional<uint32_t> ProductFieldNumber(std::string_view field);

// "YYYY-MM-DD hh:mm:ss" (with `separator` between date and time) as seconds of that clock time.
std::optional<int64_t> ParseClockTime(std::string_view text, char separator);
// "+hh:mm" / "-hh:mm" as minutes east of UTC.
std::optional<int> ParseOffset(std::string_view text, bool* minus_zero = nullptr);

}  // namespace korvel
