// SPDX-License-Identifier: MIT
// The upload folder on POSIX systems: the home folder stands for the user's profile, /proc/self/exe for
// the running program.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "records/record_file.h"
#include "text/file_system.h"
#include "text/utf8.h"

namespace korvel {
namespace {

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::string buffer(16384, '\0');
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && entry.pw_dir)
        return entry.pw_dir;
    return {};
}

std::string ProgramFolder() {
    std::string path(4096, '\0');
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) >= path.size()) return {};
    path.resize(static_cast<size_t>(n));
    path.resize(path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
    return path;
}

}  // namespace

std::u16string ResolveUploadFolder() {
    // A home whose name is not UTF-8 cannot be held as text: its folder is not taken.
    const std::string home = HomeFolder();
    const std::string data = home + "/hollin.data";
    const std::string candidate = data + "/upload";
    const bool usable = !home.empty() && HoldsAsText(candidate);
    if (usable && IsDirectory(candidate)) return Utf8ToWide(candidate);
    const std::string program = ProgramFolder();
    if (!program.empty() && !FolderProblem(program)) return Utf8ToWide(program);
    // An installed program (/usr/bin): the records go to the profile, whose folder is made for them.
    if (usable && MakeDirectory(data) && MakeDirectory(candidate)) return Utf8ToWide(candidate);
    return Utf8ToWide(program);
}

}  // namespace korvel
