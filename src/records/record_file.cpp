// SPDX-License-Identifier: MIT
#include "records/record_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>

#include "protocol/checked_line.h"
#include "text/cfile.h"
#include "text/failure_texts.h"
#include "text/file_system.h"
#include "text/safe_output.h"
#include "text/utf8.h"

namespace korvel {
namespace {

std::u16string Widen(std::string_view ascii) { return {ascii.begin(), ascii.end()}; }

constexpr std::string_view kPartialPrefix = ".korvel-partial-";
// Names tried for one second's downloads: a day's worth of downloads in one place.
constexpr int kMaxNameTries = 86400;

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of(PathSeparators());
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Writes the record file's bytes, oldest first, under a temporary name that no record file pattern
// ("-N-hex.txt") can match, locked while it lives so that another instance's clean-up leaves it alone.
bool WritePartial(SafeOutput& output, const std::string& folder,
                  const std::vector<std::string>& lines_newest_first, Failure& error) {
    if (!output.OpenNew(folder, kPartialPrefix, &error)) return false;
    // Lines are gathered into writes of 64 KiB: a system call per line would cost more than the
    // disk, and a bigger buffer would only add to the peak memory of a full ring's download.
    constexpr size_t kWriteChunk = 64 * 1024;
    std::string chunk;
    chunk.reserve(kWriteChunk + 1024);
    for (auto line = lines_newest_first.rbegin(); line != lines_newest_first.rend();) {
        chunk.clear();
        while (line != lines_newest_first.rend() && chunk.size() < kWriteChunk) chunk += *line++;
        if (!output.Write(chunk)) break;  // the failure comes back from Publish
    }
    return true;
}

// The failure as the operator reads it: the record file it was meant to become, and what to do.
Failure SaveFailure(const Failure& error, const std::string& path) {
    const int code = error.code != 0 ? error.code : EIO;
    const std::string reason = error.reason.empty() ? std::strerror(code) : error.reason;
    return {KindOfError(code), failure_text::RecordFileNotWritten(path, reason), code, reason};
}

// Writes the file under the first free name that name_at(0), name_at(1), ... gives.
Failure Save(const std::string& folder, const std::vector<std::string>& lines_newest_first, int tries,
             const std::function<std::string(int)>& name_at, std::string* used) {
    RemoveStalePartialFiles(folder);
    SafeOutput partial;
    Failure error;
    if (!WritePartial(partial, folder, lines_newest_first, error)) return SaveFailure(error, name_at(0));
    for (int i = 0; i < tries; ++i) {
        const std::string path = name_at(i);
        if (partial.Publish(path, &error)) {
            if (used) *used = path;
            return {};
        }
        // A failure to write or to flush comes with the first name, as only the first Publish flushes.
        if (error.code != EEXIST) return SaveFailure(error, path);
    }
    return SaveFailure(error, name_at(0));
}

}  // namespace

std::u16string MakeRecordFileName(const LocalTime& time, int n, int sequence) {
    char name[112];
    char after_time[16] = "";
    if (sequence > 0) std::snprintf(after_time, sizeof after_time, "-%d", sequence);
    std::snprintf(name, sizeof name, "%u%02u%02u-%02u%02u%02u%s-%u-%x.txt", time.year - 2000u, time.month,
                  time.day, time.hour, time.minute, time.second, after_time, static_cast<uint32_t>(n),
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
    const std::string full = WideToUtf8(path);
    return Save(
        FolderOf(full), lines_newest_first, 1, [&](int) { return full; }, nullptr);
}

Failure SaveRecordFile(std::u16string_view folder, const LocalTime& time, int n,
                       const std::vector<std::string>& lines_newest_first, std::u16string& name) {
    const std::string dir = WideToUtf8(folder);
    std::string used;
    Failure error = Save(
        dir, lines_newest_first, kMaxNameTries,
        [&](int i) { return dir + PathSeparators()[0] + WideToUtf8(MakeRecordFileName(time, n, i)); }, &used);
    if (!error) name = Utf8ToWide(used.substr(used.find_last_of(PathSeparators()) + 1));
    return error;
}

void RemoveStalePartialFiles(const std::string& folder) {
    std::vector<DirectoryEntry> entries;
    const char separator = PathSeparators()[0];
    if (!ListDirectory(folder.empty() ? std::string(1, separator) : folder, entries)) return;
    for (const DirectoryEntry& entry : entries) {
        if (entry.type != EntryType::kFile || !entry.name.starts_with(kPartialPrefix)) continue;
        // A running writer holds its lock: only a file whose lock is free was left behind.
        CFile file;
        const std::string path = folder + separator + entry.name;
        if (file.Open(path, CFile::modeRead) && file.TryLock()) RemoveFile(path);
    }
}

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name) {
    std::u16string path(folder);
    path += static_cast<char16_t>(PathSeparators()[0]);
    path += name;
    return path;
}

std::optional<SpaceShortage> SpaceShortageFor(const std::string& folder, uint64_t records) {
    const uint64_t need = records * kBytesPerRecord;
    const std::optional<uint64_t> free = FreeSpace(folder);
    if (!free || *free >= need) return {};
    return SpaceShortage{(need + 1023) / 1024, *free / 1024};
}

Failure SaveFolderProblem(const std::string& folder, int records) {
    Failure problem = FolderProblem(folder);
    // The file is written whole at the end: a full disk is found out now, not after the walk.
    if (!problem) {
        const uint64_t count = static_cast<uint64_t>(records < 0 ? 0 : records);
        const std::optional<SpaceShortage> short_of = SpaceShortageFor(folder, count);
        if (!short_of) return {};
        problem = {FailureKind::Other, "", ENOSPC,
                   failure_text::NotEnoughSpaceReason(count, short_of->need_kib, short_of->free_kib)};
    }
    problem.message = failure_text::SaveFolderRefused(folder, problem.reason);
    return problem;
}

}  // namespace korvel
