// SPDX-License-Identifier: MIT
#include "records/record_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>

#include "protocol/checked_line.h"
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
        path = folder + "/.korvel-partial-";
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
    AppendChecksum(line);
    line += '\n';
    // The conversion reserves room for three bytes a character; a full ring keeps 32,767 of these lines.
    line.shrink_to_fit();
    return line;
}

Failure WriteRecordFile(std::u16string_view path, const std::vector<std::string>& lines_newest_first) {
    std::string full = WideToUtf8(path);
    size_t slash = full.rfind('/');
    std::string folder = slash == std::string::npos ? "." : full.substr(0, slash);
    std::string temp = PartialName(folder);
    Failure error;
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
        const int code = error.code != 0 ? error.code : EIO;
        return {KindOfError(code),
                "cannot write the record file " + full + ": " + std::strerror(code) +
                    "; check that the folder exists, is writable and has free space",
                code};
    }
    SyncDirectory(folder.empty() ? "/" : folder);
    return {};
}

void DeleteRecordFile(std::u16string_view path) { RemoveFile(WideToUtf8(path)); }

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    path += u'/';
    path += name;
    return path;
}

}  // namespace korvel
