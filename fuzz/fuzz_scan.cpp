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

    // The key only rises: a greater one already known stays.
    std::u16string high = u"9999";
    korvel::ScanRecordText(text, n, high);
    Check(high == u"9999");

    // A file small enough to be one window gives what its text gives (behind a UTF-8 mark as well).
    const bool marked = (data[0] & 4) != 0;
    const korvel::fuzz::MemoryFile file(marked ? "\xEF\xBB\xBF" + bytes : bytes);
    std::u16string from_file;
    Check(korvel::ScanRecordFile(korvel::Utf8ToWide(file.Path()), n, from_file));
    if (bytes.size() <= 2047) Check(from_file == last_saved);
    // A larger file is seen through its head and tail only, so it finds no more than the whole text.
    Check(from_file <= last_saved);
    return 0;
}
