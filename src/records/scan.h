// SPDX-License-Identifier: MIT
// The scan of saved record files: finds the newest timestamp key that the files of one device hold.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace korvel {

// The tail of every record file name of product n: "-%d-%x.txt".
std::u16string RecordFilePattern(int n);

// The line's text before its product field when its checksum holds and its product field equals n;
// otherwise empty.
std::u16string ValidateRecordLine(std::u16string_view line, int n);

// Raises last_saved to the greatest key of the valid lines of text (lines separated by LF).
void ScanRecordText(std::u16string_view text, int n, std::u16string& last_saved);

// Scans the first and the last 2047 bytes of one file. Returns false when it cannot be opened.
bool ScanRecordFile(const std::u16string& path, int n, std::u16string& last_saved);

// Scans every file of product n in folder and its subfolders (links to folders are not followed).
// on_open_error receives the path of every matching file that could not be opened.
void ScanFolder(const std::u16string& folder, int n, std::u16string& last_saved,
                const std::function<void(const std::u16string& path)>& on_open_error);

}  // namespace korvel
