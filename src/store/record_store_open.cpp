// SPDX-License-Identifier: MIT
// Which database a --db URL names. Built with the database libraries (KORVEL_DATABASES); without them
// record_store_none.cpp stands in.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "archive/archive.h"
#include "store/record_store.h"
#include "store/record_store_backends.h"
#include "text/failure_texts.h"
#include "text/file_system.h"
#include "text/shown.h"

namespace korvel {
namespace {

bool StartsWith(const std::string& text, std::string_view prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, Failure& failure, StoreUse use) {
    if (StartsWith(url, "postgresql://") || StartsWith(url, "postgres://"))
        return OpenPostgresStore(url, failure, use == StoreUse::Read);
    std::string path = url;
    if (StartsWith(path, "sqlite://")) {
        path.erase(0, 9);
    } else if (StartsWith(path, "sqlite:")) {
        path.erase(0, 7);
    } else if (const size_t colon = path.find("://"); colon != std::string::npos) {
        failure = {FailureKind::Settings,
                   failure_text::DatabaseUrlUnknown(UrlWithoutPassword(url), Shown(path.substr(0, colon))),
                   0};
        return nullptr;
    }
    if (path.empty()) {
        failure = {FailureKind::Settings, failure_text::DatabaseUrlWithoutFile(UrlWithoutPassword(url)), 0};
        return nullptr;
    }
    // What the system says of the file itself comes first: SQLite would call a file it may not open, or
    // one in a folder it may not enter, "unable to open", and a reader must not create one.
    const int fd = ::open(path.c_str(), (use == StoreUse::Read ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
    } else if (errno == EACCES || errno == EPERM) {
        failure = {FailureKind::PermissionDenied,
                   failure_text::DatabaseNotPermitted(Shown(path), use == StoreUse::Read ? "read" : "write"),
                   errno, "permission denied"};
        return nullptr;
    } else if (use == StoreUse::Read && errno == ENOENT) {
        failure = {FailureKind::Absent, failure_text::NoDatabaseFile(Shown(path)), ENOENT};
        return nullptr;
    }
    return OpenSqliteStore(path, failure, use == StoreUse::Read);
}

}  // namespace korvel
