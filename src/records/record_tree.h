// SPDX-License-Identifier: MIT
// The walk over a folder of record files and all its subfolders, the one that archive, the download's
// scan and verify share: entries in name order, so a run reads a folder the same way every time; links to
// folders are not followed, so a link back into the tree cannot make the walk endless; pipes and devices
// are no record files (opening a pipe would wait for a writer).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "text/failure.h"

namespace korvel {

struct RecordTreeVisitor {
    std::function<bool(std::string_view name)> wanted;  // the file names the caller reads
    // path as the file system takes it; relative below the folder, '/'-separated, as the bytes are
    std::function<void(const std::string& path, const std::string& relative)> on_file;
    std::function<void(const std::string& folder, const Failure& why)> on_unreadable;  // may be empty
};

void WalkRecordTree(const std::string& folder, const RecordTreeVisitor& visitor);

}  // namespace korvel
