// SPDX-License-Identifier: MIT
#include "ledger_commands.h"

#include <iostream>
#include <memory>

#include "archive_commands.h"
#include "exit_codes.h"
#include "store/ledger_witness.h"
#include "store/record_store.h"
#include "text/shown.h"
#include "views/ledger_text.h"
#include "views/witness_text.h"

namespace korvel::cli {
namespace {

const char* StateWord(LedgerFileState state) {
    switch (state) {
        case LedgerFileState::Proven:
            return "proven";
        case LedgerFileState::Changed:
            return "changed";
        case LedgerFileState::Missing:
            return "missing";
        case LedgerFileState::Unrecorded:
            return "unrecorded";
        case LedgerFileState::Unreadable:
            break;
    }
    return "unreadable";
}

nlohmann::ordered_json FileJson(const LedgerFileCheck& f) {
    nlohmann::ordered_json j;
    j["file"] = Shown(f.file);
    j["state"] = StateWord(f.state);
    if (f.entry) {
        j["entry"] = f.entry;
        j["kind"] = std::string(LedgerKindWord(f.kind));
        j["recorded_at"] = Shown(f.recorded_at);
    }
    if (f.state == LedgerFileState::Changed || f.state == LedgerFileState::Missing) {
        j["recorded_size"] = f.recorded_size;
        j["recorded_records"] = f.recorded_records;
    }
    if (f.state == LedgerFileState::Changed) {
        j["size"] = f.size;
        j["records"] = f.records;
        j["copy_of"] =
            f.copy_of.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(Shown(f.copy_of));
    }
    if (f.state == LedgerFileState::Unreadable) j["reason"] = Shown(f.problem);
    return j;
}

}  // namespace

nlohmann::ordered_json LedgerJson(const LedgerCheck& check) {
    nlohmann::ordered_json j;
    j["all_proven"] = check.AllProven();
    j["entries"] = check.entries;
    j["chain_intact"] = check.chain.intact;
    if (!check.chain.intact) {
        j["chain_break"] = {
            {"line", check.chain.line}, {"entry", check.chain.entry}, {"reason", Shown(check.chain.reason)}};
    }
    j["devices"] = nlohmann::ordered_json::array();
    for (const LedgerDeviceCheck& d : check.devices) {
        nlohmann::ordered_json device;
        device["product"] = d.product;
        device["proven"] = d.proven;
        device["adopted"] = d.adopted;
        device["files"] = nlohmann::ordered_json::array();
        for (const auto* list : {&d.changed, &d.missing, &d.unrecorded, &d.unreadable})
            for (const LedgerFileCheck& f : *list) device["files"].push_back(FileJson(f));
        j["devices"].push_back(std::move(device));
    }
    return j;
}

int RunVerifyLedger(const std::optional<std::string>& dir, bool adopt, const std::optional<std::string>& db) {
    int code = kExitOk;
    const std::optional<std::string> folder = Folder(dir, "verify", code);
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
