// SPDX-License-Identifier: MIT
// The Windows build carries no database library: loading the records runs on a machine that reaches the
// database, for example a server that reads the PCs' upload folders through a share.
#include <windows.h>

#include "records/record_store.h"
#include "text/utf8.h"

namespace korvel {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string&, Failure& failure, StoreUse) {
    failure = {FailureKind::Other,
               "this Windows build of korvel-cli has no database; run korvel-cli ingest (or archive, export "
               "or report with --db) on a Linux machine that reaches the database, for example a server that "
               "reads this PC's upload folder through a share; here they read the folder with --dir",
               0};
    return nullptr;
}

std::string HostName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return "unknown";
    return WideToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name), size));
}

}  // namespace korvel
