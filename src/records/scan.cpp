// SPDX-License-Identifier: MIT
#include "records/scan.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "protocol/checked_line.h"
#include "protocol/crc16.h"
#include "records/record_file.h"
#include "records/record_line.h"
#include "records/record_tree.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/utf8.h"

namespace korvel {
namespace {

constexpr size_t kWindow = 2047;

// Only whole lines of the file count: a piece cut by a window's edge may pass the check as a line of
// its own although the file holds no such line. cut_before: the window starts inside a line;
// cut_after: it ends inside one.
std::u16string Window(const char* bytes, int64_t count, bool cut_before, bool cut_after) {
    if (count <= 0) return {};
    std::string_view text(bytes, static_cast<size_t>(count));
    if (cut_before) {
        const size_t first = text.find('\n');
        text = first == std::string_view::npos ? std::string_view() : text.substr(first + 1);
    }
    if (cut_after) {
        const size_t last = text.rfind('\n');
        text = last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
    }
    return Utf8ToWide(text);
}

// The length of a byte-order mark at the start of bytes; the head window starts behind it, where the
// text file class leaves its reader.
int64_t MarkLength(const unsigned char* bytes, int64_t count) {
    if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return 3;
    if (count >= 2 && ((bytes[0] == 0xFE && bytes[1] == 0xFF) || (bytes[0] == 0xFF && bytes[1] == 0xFE)))
        return 2;
    return 0;
}

// The file is opened plainly rather than through CUniFile: its encoding check reads up to 62 KB whose
// verdict nothing here uses, and that read would cost more than the rest of the scan. The windows are
// the same; a read error counts as an empty window, so the download can still start.
bool ScanFileAt(const std::string& path, int n, std::u16string& last_saved) {
    CFile file;
    if (!file.Open(path, CFile::modeRead)) return false;
    const int64_t length = file.GetLength();
    char head[kWindow + 4];
    int64_t got = file.Read(head, sizeof head);
    int64_t mark = MarkLength(reinterpret_cast<const unsigned char*>(head), got);
    const int64_t head_count = std::min<int64_t>(got - mark, kWindow);
    const bool head_cut = got - mark > head_count && head[mark + head_count] != '\n';
    ScanRecordText(Window(head + mark, head_count, false, head_cut), n, last_saved);
    if (length >= static_cast<int64_t>(kWindow) + 1) {
        // One byte more than the window tells whether the window starts at a line's beginning.
        char tail[kWindow + 1];
        got = file.Seek(-static_cast<int64_t>(kWindow) - 1, CFile::end) >= 0 ? file.Read(tail, kWindow + 1)
                                                                             : -1;
        if (got == kWindow + 1)
            ScanRecordText(Window(tail + 1, kWindow, tail[0] != '\n', false), n, last_saved);
    }
    return true;
}

}  // namespace

std::u16string RecordFilePattern(int n) {
    char pattern[48];
    std::snprintf(pattern, sizeof pattern, "-%d-%x.txt", n, static_cast<unsigned>(n));
    return Utf8ToWide(pattern);
}

std::u16string ValidateRecordLine(std::u16string_view line, int n) {
    const auto split = SplitChecksum(line);
    if (!split) return {};
    const std::u16string_view body = split->text;
    if (Crc16(WideToUtf8(body)) != split->Expected()) return {};
    size_t space = body.rfind(u' ');
    if (space == std::u16string_view::npos) return {};
    if (ProductFieldNumber(WideToUtf8(body.substr(space + 1))) != static_cast<uint32_t>(n)) return {};
    return std::u16string(body.substr(0, space));
}

void ScanRecordText(std::u16string_view text, int n, std::u16string& last_saved) {
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(u'\n', start);
        if (end == std::u16string_view::npos) end = text.size();
        if (end > start) {
            std::u16string valid = ValidateRecordLine(text.substr(start, end - start), n);
            if (!valid.empty()) {
                std::u16string_view key = std::u16string_view(valid).substr(0, kTimestampKeyLength);
                if (key > std::u16string_view(last_saved)) last_saved = key;
            }
        }
        start = end + 1;
    }
}

bool ScanRecordFile(const std::u16string& path, int n, std::u16string& last_saved) {
    return ScanFileAt(WideToUtf8(path), n, last_saved);
}

void ScanFolder(const std::u16string& folder, int n, std::u16string& last_saved,
                const std::function<void(const std::u16string& path)>& on_open_error) {
    const std::string pattern = WideToUtf8(RecordFilePattern(n));
    WalkRecordTree(WideToUtf8(folder),
                   {[&](std::string_view name) { return name.find(pattern) != std::string_view::npos; },
                    // The path goes on as it is: a name that is not UTF-8 would not survive a round trip
                    // through text.
                    [&](const std::string& path, const std::string&) {
                        if (!ScanFileAt(path, n, last_saved)) on_open_error(Utf8ToWide(path));
                    },
                    {}});
}

}  // namespace korvel
