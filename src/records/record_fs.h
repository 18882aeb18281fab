// SPDX-License-Identifier: MIT
// The few file-system operations the record files and the scan need, with the OS calls in one file per
// OS. Paths are UTF-8 here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <system_error>

namespace korvel::recfs {

bool IsDirectory(const std::string& path);
std::string ProfileFolder();  // the user's home; empty when unknown
std::string ProgramFolder();  // folder of the running program; empty when unknown
void RemoveFile(const std::string& path);

// Writes the pieces, in order, to a fresh hidden file in folder, flushes it to disk and renames it to
// folder/name, so that name either keeps its old state or holds every byte. Nothing is left behind on
// failure.
std::error_code WriteFileAtomically(const std::string& folder, const std::string& name,
                                    const std::function<bool(std::string_view* piece)>& next_piece);

// Lists a folder without following links to directories. Returns false when it cannot be read.
struct Entry {
    std::string_view name;
    bool is_directory;
};
bool ListFolder(const std::string& path, const std::function<void(const Entry&)>& visit);

// A file opened for reading; closed on destruction.
class ReadFile {
  public:
    explicit ReadFile(const std::string& path);
    ~ReadFile();
    ReadFile(const ReadFile&) = delete;
    ReadFile& operator=(const ReadFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    int64_t Length() const;
    // Reads up to size bytes at offset; returns the count, or -1 on a read error.
    int64_t ReadAt(int64_t offset, char* buffer, size_t size) const;

  private:
    int fd_ = -1;
};

}  // namespace korvel::recfs
