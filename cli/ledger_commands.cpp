// SPDX-License-Identifier: MIT
#include "ledger_commands.h"

#include <iostream>

#include "archive/ledger_check.h"
#include "archive_commands.h"
#include "exit_codes.h"
#include "views/ledger_text.h"

namespace korvel::cli {

int RunVerifyLedger(const std::optional<std::string>& dir, bool adopt) {
    int code = kExitOk;
    const std::optional<std::string> folder = Folder(dir, "verify", code);
    if (!folder) return code;
    LedgerCheck check;
    if (const Failure failure = CheckLedger(*folder, check)) {
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
        if (const Failure again = CheckLedger(*folder, check)) {
            std::cerr << "korvel-cli: verify: " << again.message << '\n';
            return kExitVerify;
        }
    }
    std::cout << LedgerCheckText(check);
    return check.AllProven() ? kExitOk : kExitVerify;
}

}  // namespace korvel::cli
