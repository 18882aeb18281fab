// SPDX-License-Identifier: MIT
// A file the user names for output, written without ever destroying what the name leads to: a pipe,
// a character device or a terminal is written directly; a symbolic link's target is written and the link
// stays; a regular file is replaced at once and whole through a temporary file of its own folder,
// created exclusively under an unpredictable name and given the file's mode. The temporary goes again on
// every failure and on SIGINT, SIGTERM or SIGHUP. OS calls in safe_output_posix.cpp and safe_output_win.cpp.
// Opened with OpenNew instead, it writes a new file that never replaces one (safe_output.cpp).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/cfile.h"
#include "text/failure.h"

namespace korvel {

class SafeOutput {
  public:
    SafeOutput() = default;
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;
    ~SafeOutput();  // an output not committed leaves nothing behind

    // Gets ready to write to path. False, with the reason in *error, when it cannot be written.
    bool Open(const std::string& path, Failure* error);
    // Writes all the bytes or fails; a failure is kept and returned again by Commit.
    bool Write(std::string_view bytes);
    // Puts the written bytes under the name. False, with the reason, when they are not all there.
    bool Commit(Failure* error);
    // Throws away what was written; the name keeps what it had.
    void Abandon();

    // Gets ready to write a new file in folder: an exclusive temporary named prefix and eight random
    // letters or digits, locked (CFile::TryLock) while it lives, so a clean-up that removes only the
    // temporaries whose lock is free leaves it alone. Such an output ends with Publish, not Commit.
    bool OpenNew(const std::string& folder, std::string_view prefix, Failure* error);
    // Pushes the written bytes to the disk (once) and gives them the name path, which must be free: a
    // taken name is never replaced. On EEXIST the temporary stays, so another name may be tried; on
    // success or any other failure it goes.
    bool Publish(const std::string& path, Failure* error);

    // True when the name is written in place (a pipe, a device, a terminal).
    bool Direct() const { return direct_; }
    // Where the bytes are written before Commit: the temporary file, or the name itself when direct.
    const std::string& Temporary() const { return temporary_; }

  private:
    bool Fail(const char* what, const std::string& path);
    bool Refuse(const char* what, const std::string& path, Failure* error);  // Fail, then Abandon
    bool WriteNew(std::string_view bytes);
    void AbandonNew();

    intptr_t handle_ = -1;
    bool direct_ = false;
    std::string path_;       // as the user gave it
    std::string target_;     // the name that gets the bytes: path_, or where its links lead
    std::string temporary_;  // the exclusive temporary file beside target_
    Failure error_;
    // An output opened with OpenNew (it never touches the signal guard, not even to end it): the locked
    // temporary, its folder, and whether it is on the disk.
    bool new_mode_ = false;
    CFile new_file_;
    std::string new_folder_;
    bool flushed_ = false;
};

// Creates a new folder only this user may enter, with an unpredictable name, in the system's temporary
// folder, and puts its path in *folder.
bool MakePrivateFolder(std::string_view prefix, std::string* folder, Failure* error);

// The folder `name` of this user in the system's temporary folder, which only this user may enter (on
// POSIX the name ends in the user's id, as the temporary folder is shared), made when it is not there.
// Refused when that name is there but is no such folder (another user's, a link, a file).
bool OpenUserFolder(std::string_view name, std::string* folder, Failure* error);

}  // namespace korvel
