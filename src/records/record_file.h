// SPDX-License-Identifier: MIT
// Record files: where they go, how they are named, the stored line and how a file is written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "text/failure.h"

namespace korvel {

// "%u%02u%02u-%02u%02u%02u-%u-%x.txt" from the local time (year − 2000) and the product number. A later
// download of the same second (sequence 1, 2, ...) adds its sequence behind the time:
// "%u%02u%02u-%02u%02u%02u-%u-%u-%x.txt". Either way the name begins with the download's true time and
// ends with the product number twice, which is all that readers of names take from it.
std::u16string MakeRecordFileName(const LocalTime& time, int n, int sequence = 0);

// The UTF-8 bytes of the record text, a space, its Crc16 as four lower-case hex digits, LF.
std::string MakeRecordLine(std::u16string_view text);

// Writes the lines, given newest first, oldest first into a new file at path. The file appears whole or
// not at all: it is written under a temporary name in the same folder, flushed and then given its name,
// which must be free: an existing file is never replaced (the failure's code is then EEXIST). Returns the
// failure, if any, with a sentence that names the file.
Failure WriteRecordFile(std::u16string_view path, const std::vector<std::string>& lines_newest_first);

// As WriteRecordFile, into folder under MakeRecordFileName(time, n), or when that name is taken under the
// first free sequence of the same second. name receives the name used. Temporary files that a killed
// run left in the folder are removed first.
Failure SaveRecordFile(std::u16string_view folder, const LocalTime& time, int n,
                       const std::vector<std::string>& lines_newest_first, std::u16string& name);

// Removes the temporary files of record files that no running writer holds any more.
void RemoveStalePartialFiles(const std::string& folder);

// The upload folder: hollin.data/upload in the user's profile (the home folder, %USERPROFILE% on
// Windows) when that is a folder; otherwise the running program's folder, when a file can be created
// there (a portable copy); otherwise the profile's hollin.data/upload, created now (an installed program,
// whose folder a standard user cannot write). When even that cannot be created, the program's folder:
// the check before a download then says why nothing can be saved.
std::u16string ResolveUploadFolder();

// What a record file needs on disk per record, for the free-space check before a download: a stored line
// takes about 50 bytes; the final write still checks its own result.
inline constexpr uint64_t kBytesPerRecord = 64;

// The free-space check before a download of `records` records: what the file needs and what the folder
// has, in KiB, when that is too little; nothing when there is room or the free space cannot be told.
struct SpaceShortage {
    uint64_t need_kib, free_kib;
};
std::optional<SpaceShortage> SpaceShortageFor(const std::string& folder, uint64_t records);

// Why a download of `records` records cannot be saved in folder (kind None when it can): the folder must
// take a new file and have room (SpaceShortageFor). Asked before the first request. The reason says what
// is wrong with the folder, the message also what to do.
Failure SaveFolderProblem(const std::string& folder, int records);

std::u16string JoinPath(std::u16string_view folder, std::u16string_view name);

}  // namespace korvel
