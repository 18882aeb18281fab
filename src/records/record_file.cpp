// SPDX-License-Identifier: MIT
#include "records/record_file.h"

#include <cstdint>
#include <cstdio>

#include "protocol/crc16.h"
#include "records/record_fs.h"
#include "text/utf8.h"

namespace korvel {
namespace {

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

}  // namespace

std::u16string MakeRecordFileName(const LocalTime& time, int n) {
    char name[96];
    std::snprintf(name, sizeof name, "%u%02u%02u-%02u%02u%02u-%u-%x.txt", time.year - 2000u, time.month,
                  time.day, time.hour, time.minute, time.second, static_cast<uint32_t>(n),
                  static_cast<uint32_t>(n));
    return Widen(name);
}

std::string MakeRecordLine(std::u16string_view text) {
    std::string line = WideToUtf8(text);
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, " %04x\n", Crc16(line));
    line += suffix;
    return line;
}

std::error_code WriteRecordFile(std::u16string_view path,
                                const std::vector<std::string>& lines_newest_first) {
    std::string full = WideToUtf8(path);
    size_t slash = full.rfind('/');
    std::string folder = slash == std::string::npos ? "." : full.substr(0, slash);
    std::string name = slash == std::string::npos ? full : full.substr(slash + 1);
    auto next = lines_newest_first.rbegin();
    std::string chunk;
    return recfs::WriteFileAtomically(folder, name, [&](std::string_view* piece) {
        // Lines are gathered into large writes: one system call per line would cost more than the disk.
        chunk.clear();
        while (next != lines_newest_first.rend() && chunk.size() < (1u << 20)) chunk += *next++;
        *piece = chunk;
        return !chunk.empty();
    });
}

void DeleteRecordFile(std::u16string_view path) { recfs::RemoveFile(WideToUtf8(path)); }

std::u16string ResolveUploadFolder() {
    std::string candidate = recfs::ProfileFolder() + "/hollin.data/upload";
    if (recfs::IsDirectory(candidate)) return Utf8ToWide(candidate);
    return Utf8ToWide(recfs::ProgramFolder());
}

int WToI(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > int64_t{INT32_MAX} + 1) break;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int>(value);
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    path += u'/';
    path += name;
    return path;
}

}  // namespace korvel
