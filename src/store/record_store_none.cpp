// SPDX-License-Identifier: MIT
// A build without the database libraries (KORVEL_DATABASES off, as on Windows): loading the records runs
// on a machine that reaches the database, for example a server that reads the PCs' upload folders
// through a share.
#include "store/record_store.h"

namespace korvel {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string&, Failure& failure, StoreUse) {
    failure = {FailureKind::Other,
               "this Windows build of korvel-cli has no database; run korvel-cli ingest (or archive, export "
               "or report with --db) on a Linux machine that reaches the database, for example a server that "
               "reads this PC's upload folder through a share; here they read the folder with --dir",
               0};
    return nullptr;
}

}  // namespace korvel
