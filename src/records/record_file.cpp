// SPDX-License-Identifier: MIT
#include "records/record_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>

#include "protocol/crc16.h"
#include "text/cfile.h"
#include "text/file_system.h"
#include "text/utf8.h"

namespace korvel {
namespace {

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

// A free name in folder that no record file pattern ("-N-hex.txt") can match: it has no ".txt" in it.
std::string PartialName(const std::string& folder) {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random{std::random_device{}()};
    std::string path;
    do {
        path = folder + PathSeparators()[0] + ".korvel-partial-";
        for (int i = 0; i < 8; ++i) path += kChars[random() % (sizeof kChars - 1)];
    } while (FileExists(path));
    return path;
}

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
    // The conversion reserves room for three bytes a character; a full ring keeps 32,767 of these lines.
    line.shrink_to_fit();
    return line;
}

std::error_code WriteRecordFile(std::u16string_view path,
                                const std::vector<std::string>& lines_newest_first) {
    std::string full = WideToUtf8(path);
    size_t slash = full.find_last_of(PathSeparators());
    std::string folder = slash == std::string::npos ? "." : full.substr(0, slash);
    std::string temp = PartialName(folder);
    FileError error;
    bool ok = false;
    {
        CFile file;
        if (file.Open(temp, CFile::modeCreate | CFile::modeWrite, &error)) {
            // Lines are gathered into writes of 64 KiB: a system call per line would cost more than the
            // disk, and a bigger buffer would only add to the peak memory of a full ring's download.
            constexpr size_t kWriteChunk = 64 * 1024;
            std::string chunk;
            chunk.reserve(kWriteChunk + 1024);
            ok = true;
            for (auto line = lines_newest_first.rbegin(); ok && line != lines_newest_first.rend();) {
                chunk.clear();
                while (line != lines_newest_first.rend() && chunk.size() < kWriteChunk) chunk += *line++;
                ok = file.Write(chunk.data(), chunk.size());
            }
            ok = ok && file.Flush();
            if (!ok) error = file.LastError();
        }
    }
    ok = ok && RenameFile(temp, full, &error);
    if (!ok) {
        RemoveFile(temp);
        return {error.code != 0 ? error.code : EIO, std::generic_category()};
    }
    SyncDirectory(folder.empty() ? std::string(1, PathSeparators()[0]) : folder);
    return {};
}

void DeleteRecordFile(std::u16string_view path) { RemoveFile(WideToUtf8(path)); }

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    path += static_cast<char16_t>(PathSeparators()[0]);
    path += name;
    return path;
}

}  // namespace korvel
