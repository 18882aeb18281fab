// SPDX-License-Identifier: MIT
#include "ingest_commands.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "archive/archive.h"
#include "archive_commands.h"
#include "exit_codes.h"
#include "records/record_file.h"
#include "store/record_store.h"
#include "text/civil_time.h"
#include "text/failure_texts.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "views/fleet_page.h"
#include "views/fleet_text.h"

namespace korvel::cli {
namespace {

namespace fs = std::filesystem;

// The database named, opened and brought to this build's schema to load (or, to read, found in it);
// nothing after saying why not.
std::unique_ptr<RecordStore> OpenDatabase(const std::optional<std::string>& url, const char* command,
                                          StoreUse use) {
    const std::string name = url ? *url : DefaultDatabasePath();
    Failure failure;
    std::unique_ptr<RecordStore> store = OpenRecordStore(name, failure, use);
    if (store) failure = use == StoreUse::Load ? store->Prepare() : ReadableSchema(*store);
    if (failure) {
        std::cerr << "korvel-cli: " << command << ": " << failure.message << '\n';
        return nullptr;
    }
    return store;
}

}  // namespace

IngestCommands::IngestCommands(CLI::App& app) {
    ingest_ = app.add_subcommand(
        "ingest",
        "Loads the distinct records of the record files into a database, each file wholly or not at all.\n"
        "Files loaded before unchanged are skipped. Exit code 4 when the database cannot be reached or\n"
        "written, 5 when files held damaged lines (those are counted, not loaded).");
    ingest_->add_option("--dir", dir_, "the folder of record files (default: the upload folder)")
        ->type_name("DIR");
    ingest_
        ->add_option("--db", db_,
                     "postgresql://USER@HOST/DATABASE, or a SQLite file (default: korvel.sqlite beside the "
                     "upload folder)")
        ->type_name("URL");

    fleet_ = app.add_subcommand(
        "fleet",
        "One row per recorder in the database: newest record, last load and from where, records probably\n"
        "not yet downloaded; as text, one JSON array (--json) or one HTML page (--html, --open).\n"
        "Exit code 5 when a recorder is incomplete or due within DAYS.");
    fleet_->add_option("--db", db_, "the database, as ingest takes it")->type_name("URL");
    CLI::Option* json = fleet_->add_flag("--json", json_, "print one JSON array");
    fleet_
        ->add_flag("--html", html_, "write one HTML page with a row per recorder, as report writes its page")
        ->excludes(json);
    fleet_
        ->add_option(
            "--output", output_,
            "the file to write (default: standard output, or with --open a file in the temporary folder)")
        ->type_name("FILE");
    fleet_->add_flag("--open", open_, "write the HTML page and open it in the desktop's browser")
        ->excludes(json);
    fleet_
        ->add_option("--due", due_days_,
                     "days before the oldest record not downloaded is overwritten (default 7)")
        ->type_name("DAYS")
        ->check(CLI::Range(0, 36500));
}

bool IngestCommands::IsCommand(const std::string& word) { return word == "ingest" || word == "fleet"; }

std::optional<int> IngestCommands::Run() const {
    if (*ingest_) return Ingest(dir_, db_);
    if (*fleet_) return RunFleet();
    return {};
}

int IngestCommands::Ingest(const std::optional<std::string>& dir, const std::optional<std::string>& url) {
    std::string folder = dir ? *dir : WideToUtf8(ResolveUploadFolder());
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (const Failure problem = FolderReadProblem(folder)) {
        std::cerr << "korvel-cli: ingest: "
                  << failure_text::FolderNotRead(Shown(folder), dir.has_value(), problem.kind,
                                                 Shown(problem.reason))
                  << '\n';
        return kExitUsage;
    }
    std::unique_ptr<RecordStore> store = OpenDatabase(url, "ingest", StoreUse::Load);
    if (!store) return kExitWrite;
    const IngestReport report = IngestFolder(*store, folder, HostName());
    std::cout << "database: " << Shown(store->Name()) << '\n'
              << "folder: " << Shown(folder) << '\n'
              << "files: " << report.files << " (" << report.loaded << " loaded, " << report.skipped
              << " loaded before)\n"
              << "records: " << report.records << " read, " << report.added << " new\n"
              << "damaged lines: " << report.damaged << " (not loaded)\n";
    for (const std::string& problem : report.problems) std::cout << "unreadable: " << problem << '\n';
    if (report.failure) {
        std::cerr << "korvel-cli: ingest: " << report.failure.message << '\n';
        return kExitWrite;
    }
    if (report.damaged > 0 || !report.problems.empty()) {
        std::cerr << "korvel-cli: ingest: "
                  << (report.damaged > 0 ? failure_text::DamagedLinesNotLoaded(Plural(
                                               report.damaged, "damaged line was", "damaged lines were"))
                                         : failure_text::SomeFilesUnreadable())
                  << '\n';
        return kExitVerify;
    }
    return kExitOk;
}

int IngestCommands::RunFleet() const {
    std::unique_ptr<RecordStore> store = OpenDatabase(db_, "fleet", StoreUse::Read);
    if (!store) return kExitWrite;
    std::vector<FleetDevice> devices;
    if (const Failure failure = store->Fleet(devices)) {
        std::cerr << "korvel-cli: fleet: " << failure.message << '\n';
        return kExitWrite;
    }
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    std::vector<FleetStatus> rows;
    bool attention = false;
    for (const FleetDevice& device : devices) {
        rows.push_back(AssessFleetDevice(device, now, due_days_));
        attention = attention || rows.back().due || !rows.back().complete;
    }
    const int code = attention ? kExitVerify : kExitOk;
    if (html_ || open_) {
        const int written = EmitPage("fleet", output_, open_, "korvel-fleet.html",
                                     MakeFleetPage(rows, {store->Name(), now, due_days_}));
        return written == kExitOk ? code : written;
    }
    const bool written = Emit("fleet", output_, [&](std::ostream& out) {
        if (json_) {
            out << FleetJson(rows) << '\n';
        } else {
            out << FleetText(store->Name(), rows, now, due_days_);
        }
    });
    if (!written) return kExitWrite;
    if (output_) std::cout << Shown(*output_) << '\n';
    return code;
}

}  // namespace korvel::cli
