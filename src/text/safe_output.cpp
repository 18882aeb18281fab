// SPDX-License-Identifier: MIT
#include "text/safe_output.h"

#include <cerrno>
#include <random>

#include "text/file_system.h"

namespace korvel {

SafeOutput::~SafeOutput() { Abandon(); }

bool SafeOutput::Fail(const char* what, const std::string& path) {
    error_ = LastSystemFailure(std::string(what) + " " + path);
    return false;
}

bool SafeOutput::Refuse(const char* what, const std::string& path, Failure* error) {
    Fail(what, path);
    if (error) *error = error_;
    Abandon();
    return false;
}

// A new file takes no signal guard: the window saves record files too, and its framework owns the
// process's signal handlers, which the guard would swap; the guard also holds one temporary for the
// whole process, and a new file may be written while a named output is. A temporary left by a killed
// process has a free lock, and the next save's clean-up removes it.
bool SafeOutput::OpenNew(const std::string& folder, std::string_view prefix, Failure* error) {
    Abandon();
    new_mode_ = true;
    error_ = {};
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::minstd_rand random{std::random_device{}()};
    for (;;) {
        std::string path = folder + PathSeparators()[0] + std::string(prefix);
        for (int i = 0; i < 8; ++i) path += kChars[random() % (sizeof kChars - 1)];
        if (!new_file_.Open(path, CFile::modeCreate | CFile::modeCreateNew | CFile::modeWrite, &error_)) {
            if (error_.code == EEXIST) continue;
            if (error) *error = error_;
            return false;
        }
        temporary_ = path;
        if (!new_file_.TryLock(&error_)) {
            if (error) *error = error_;
            AbandonNew();
            return false;
        }
        // A clean-up may have taken the file between its creation and the lock: start afresh.
        if (new_file_.HasName()) break;
        new_file_.Close();
        temporary_.clear();
    }
    error_ = {};  // a taken name tried on the way
    path_ = target_ = temporary_;
    new_folder_ = folder;
    flushed_ = false;
    return true;
}

bool SafeOutput::WriteNew(std::string_view bytes) {
    if (error_) return false;
    if (!new_file_.IsOpen()) {
        error_ = {FailureKind::Other, "cannot write " + path_ + ": it is not open", EBADF};
        return false;
    }
    return new_file_.Write(bytes.data(), bytes.size(), &error_);
}

bool SafeOutput::Publish(const std::string& path, Failure* error) {
    if (!new_mode_) {
        if (error) *error = {FailureKind::Other, "cannot write " + path + ": it is not open", EBADF};
        return false;
    }
    if (!new_file_.IsOpen() && !error_)
        error_ = {FailureKind::Other, "cannot write " + path + ": it is not open", EBADF};
    if (!error_ && !flushed_ && new_file_.Flush(&error_)) flushed_ = true;
    Failure failure = error_;
    if (!failure) {
        if (LinkFile(temporary_, path, &failure)) {
            AbandonNew();
            SyncDirectory(new_folder_.empty() ? std::string(1, PathSeparators()[0]) : new_folder_);
            return true;
        }
        // The name is taken: the bytes stay for the next name.
        if (failure.code == EEXIST) {
            if (error) *error = failure;
            return false;
        }
    }
    if (error) *error = failure;
    AbandonNew();
    return false;
}

void SafeOutput::AbandonNew() {
    new_file_.Close();
    if (!temporary_.empty()) RemoveFile(temporary_);
    temporary_.clear();
    flushed_ = false;
}

}  // namespace korvel
