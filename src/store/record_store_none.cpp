// SPDX-License-Identifier: MIT
// A build without the database libraries (KORVEL_DATABASES off, as on Windows): loading the records runs
// on a machine that reaches the database, for example a server that reads the PCs' upload folders
// through a share.
#include "store/record_store.h"
#include "text/failure_texts.h"

namespace korvel {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string&, Failure& failure, StoreUse) {
    failure = {FailureKind::Other, failure_text::NoDatabaseInThisBuild(), 0};
    return nullptr;
}

}  // namespace korvel
