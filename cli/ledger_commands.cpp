// SPDX-License-Identifier: MIT
#include "ledger_commands.h"

#include <iostream>
#include <memory>

#include "archive/ledger_check.h"
#include "archive_commands.h"
#include "exit_codes.h"
#include "store/ledger_witness.h"
#include "store/record_store.h"
#include "views/ledger_text.h"
#include "views/witness_text.h"

namespace korvel::cli {

int RunVerifyLedger(const std::optional<std::string>& dir, bool adopt, const std::optional<std::string>& db) {
    int code = kExitOk;
    const std::optional<std::string> folder =
        Folder(dir, "verify", code, "as DIR (korvel-cli verify --ledger DIR)");
    if (!folder) return code;
    std::unique_ptr<RecordStore> store;
    if (db) {
        Failure failure;
        store = OpenRecordStore(*db, failure, StoreUse::Read);
        if (store) failure = ReadableSchema(*store);
        if (failure) {
            std::cerr << "korvel-cli: verify: " << failure.message << '\n';
            return kExitWrite;
        }
    }
    const RecordedBytes recorded = store ? StoredRecordedBytes(*store) : RecordedBytes();
    LedgerCheck check;
    Ledger ledger;
    if (const Failure failure = CheckLedger(*folder, check, ledger, recorded)) {
        std::cerr << "korvel-cli: verify: " << failure.message << '\n';
        return kExitVerify;
    }
    if (adopt) {
        size_t adopted = 0;
        const Failure failure = AdoptUnrecorded(check, adopted);
        std::cout << "adopted: " << adopted << (adopted == 1 ? " file" : " files")
                  << " recorded as adopted (from before the ledger, not as downloaded)\n";
        if (failure) {
            std::cerr << "korvel-cli: verify: " << failure.message << '\n';
            return kExitWrite;
        }
        if (const Failure again = CheckLedger(*folder, check, ledger, recorded)) {
            std::cerr << "korvel-cli: verify: " << again.message << '\n';
            return kExitVerify;
        }
    }
    std::cout << LedgerCheckText(check);
    if (!store) return check.AllProven() ? kExitOk : kExitVerify;
    Failure failure;
    const WitnessReport witness = CompareFolderWithWitness(*store, check, ledger, failure);
    if (failure) {
        std::cerr << "korvel-cli: verify: " << failure.message << '\n';
        return kExitWrite;
    }
    std::cout << WitnessText(store->Name(), witness);
    return check.AllProven() && witness.problems.empty() ? kExitOk : kExitVerify;
}

}  // namespace korvel::cli
