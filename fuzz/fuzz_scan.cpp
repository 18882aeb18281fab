// SPDX-License-Identifier: MIT
// The scan of a saved file and its line validation on arbitrary bytes. The first byte chooses the
// product number; the rest is the file.
#include <string>

#include "fuzz_support.h"
#include "records/scan.h"
#include "text/utf8.h"

using korvel::fuzz::Check;

namespace {

// The greatest key of the lines the validator accepts, each line checked on its own.
std::u16string GreatestValidKey(std::u16string_view text, int n) {
    std::u16string greatest;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string_view line = text.substr(start, end - start);
        const std::u16string valid = korvel::ValidateRecordLine(line, n);
        if (!valid.empty()) {
            // What is accepted is the line's beginning, cut before the product field and the checksum.
            Check(line.starts_with(valid) && valid.size() + 6 < line.size() + 1);
            const std::u16string key = valid.substr(0, 19);
            if (key > greatest) greatest = key;
        }
        start = end + 1;
    }
    return greatest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const int kProducts[] = {1234, 0, -1, 2147483647};
    const int n = kProducts[data[0] & 3];
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::u16string text = korvel::Utf8ToWide(bytes);

    std::u16string last_saved;
    korvel::ScanRecordText(text, n, last_saved);
    Check(last_saved == GreatestValidKey(text, n));

    // The key only rises: a greater one already known stays. A line with a valid checksum may begin
    // with any text, so the known key is one no key of 19 UTF-16 units can pass.
    const std::u16string top(20, u'\xFFFF');
    std::u16string high = top;
    korvel::ScanRecordText(text, n, high);
    Check(high == top);

    // A file small enough to be one window gives what its text gives (behind a UTF-8 mark as well).
    // The file is read behind its byte-order mark, one the bytes bring of their own included.
    const bool marked = (data[0] & 4) != 0;
    const std::string content = marked ? "\xEF\xBB\xBF" + bytes : bytes;
    const std::string_view view(content);
    const size_t mark = view.starts_with("\xEF\xBB\xBF")                               ? 3
                        : view.starts_with("\xFE\xFF") || view.starts_with("\xFF\xFE") ? 2
                                                                                       : 0;
    std::u16string expected;
    korvel::ScanRecordText(korvel::Utf8ToWide(view.substr(mark)), n, expected);
    const korvel::fuzz::MemoryFile file(content);
    std::u16string from_file;
    Check(korvel::ScanRecordFile(korvel::Utf8ToWide(file.Path()), n, from_file));
    // (Text is taken up to a NUL; with one, the tail window, which starts behind a cut line, can see
    // lines the head window stopped before.)
    if (content.size() - mark <= 2047 && view.find('\0') == std::string_view::npos)
        Check(from_file == expected);
    // A larger file is seen through its head and tail only, whole lines of each, so it finds no more
    // than its lines give one by one. (Text is taken up to a NUL, so a window may see fewer lines.)
    std::u16string greatest;
    for (std::string_view line : korvel::fuzz::Lines(view.substr(mark))) {
        korvel::ScanRecordText(korvel::Utf8ToWide(line), n, greatest);
    }
    Check(from_file <= greatest);
    return 0;
}
