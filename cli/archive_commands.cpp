// SPDX-License-Identifier: MIT
#include "archive_commands.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <streambuf>

#include "archive/running_summary.h"
#include "exit_codes.h"
#include "ledger_commands.h"
#include "records/record_file.h"
#include "store/record_store.h"
#include "system.h"
#include "text/failure_texts.h"
#include "text/file_system.h"
#include "text/number.h"
#include "text/safe_output.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "views/archive_data.h"
#include "views/archive_text.h"
#include "views/ledger_text.h"
#include "views/page_file.h"
#include "views/report_page.h"

namespace korvel::cli {
namespace {

namespace say = failure_text;

// A command's failure on stderr: "korvel-cli: COMMAND: SENTENCE".
void Say(const char* command, const std::string& sentence) {
    std::cerr << "korvel-cli: " << command << ": " << sentence << '\n';
}

}  // namespace

// The folder to read, or the exit code after saying why there is none.
std::optional<std::string> Folder(const std::optional<std::string>& dir, const char* command, int& code,
                                  const std::string& naming) {
    const bool given = dir.has_value();
    std::string folder = given ? *dir : WideToUtf8(ResolveUploadFolder());
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (const Failure problem = FolderReadProblem(folder)) {
        Say(command, say::FolderNotRead(Shown(folder), given, problem.kind, Shown(problem.reason), naming));
        code = kExitUsage;
        return {};
    }
    return folder;
}

namespace {

// The records the command reads: the folder of --dir (by default the upload folder) or the database of
// --db, which answers the same for the files loaded into it. Nothing, and the exit code, after saying why.
std::optional<Archive> Source(const std::optional<std::string>& dir, const std::optional<std::string>& db,
                              const char* command, int& code) {
    if (!db) {
        const std::optional<std::string> folder = Folder(dir, command, code);
        if (!folder) return {};
        return ReadArchive(*folder);
    }
    Failure failure;
    std::unique_ptr<RecordStore> store = OpenRecordStore(*db, failure, StoreUse::Read);
    if (store) failure = ReadableSchema(*store);
    std::optional<Archive> archive;
    if (!failure) archive = ReadStoredArchive(*store, failure);
    if (failure) {
        Say(command, failure.message);
        code = kExitWrite;
        return {};
    }
    return archive;
}

bool NoRecordFiles(const Archive& archive, const char* command, bool database) {
    if (!archive.files.empty()) return false;
    if (database) {
        Say(command, say::NoRecordFilesInDatabase(Shown(archive.folder)));
        return true;
    }
    Say(command, say::NoRecordFilesIn(Shown(archive.folder)));
    if (!archive.problems.empty()) std::cerr << "korvel-cli: " << archive.problems.front() << '\n';
    return true;
}

std::string Products(const Archive& archive) {
    std::string list;
    for (const DeviceArchive& device : archive.devices) {
        if (!list.empty()) list += ", ";
        list += std::to_string(device.product);
    }
    return list;
}

// The device asked for, or nullptr after saying why there is none.
const DeviceArchive* Device(const Archive& archive, const std::string& product, const char* command) {
    const DeviceArchive* device = FindByProductField(archive, product);
    if (!device || device->valid_lines == 0) {
        Say(command, say::NoRecordsOfProduct(product, Shown(archive.folder), Products(archive)));
        return nullptr;
    }
    return device;
}

// What export and report say below their output when the device's records are not known whole.
void SayIncomplete(const Archive& archive, const DeviceArchive& device, const char* command) {
    if (archive.Complete(device)) return;
    std::string text = IncompleteText(device);
    if (!archive.folders.empty()) {
        if (!text.empty()) text += ", and ";
        text += Plural(archive.folders.size(), "folder", "folders") + " that could not be read may hold more";
    }
    Say(command, say::RecordsNotComplete(std::to_string(device.product), text));
    for (const std::string& problem : device.unreadable) Say(command, say::Unreadable(problem));
    for (const std::string& problem : archive.folders) Say(command, say::Unreadable(problem));
}

// Hands what a stream writes to a SafeOutput in pieces, so an export of any size needs no copy in memory.
class OutputBuffer : public std::streambuf {
  public:
    explicit OutputBuffer(SafeOutput& output) : output_(output) { setp(buffer_, buffer_ + sizeof buffer_); }
    int sync() override { return Drain() ? 0 : -1; }

  protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }

  private:
    bool Drain() {
        const bool ok = output_.Write(std::string_view(pbase(), static_cast<size_t>(pptr() - pbase())));
        setp(buffer_, buffer_ + sizeof buffer_);
        return ok;
    }

    SafeOutput& output_;
    char buffer_[1 << 16];
};

CLI::Validator TimeValidator() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            if (ParseTimeBound(value, false)) return {};
            return "the time " + value +
                   " is not YYYY-MM-DD, YYYY-MM-DD hh:mm[:ss] or that with an offset like +08:00 or Z";
        },
        "");
}

CLI::Validator LimitValidator() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            double number = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
            if (error == std::errc() && end == value.data() + value.size() && std::isfinite(number))
                return {};
            return "the limit must be a number like 2.5, not " + value;
        },
        "");
}

CLI::Validator ProductValidator() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            const size_t digits = value[0] == '-' ? 1 : 0;
            if (value.size() > digits && value.size() <= digits + 10 &&
                value.find_first_not_of("0123456789", digits) == std::string::npos)
                return {};
            return "the product number must be a whole number, not " + value;
        },
        "");
}

}  // namespace

bool Emit(const char* command, const std::optional<std::string>& output,
          const std::function<void(std::ostream&)>& write) {
    if (!output) {
        BinaryStandardOutput();  // the rows bring their own line ends
        write(std::cout);
        std::cout.flush();
        if (std::cout) return true;
        Say(command, say::StandardOutputFailed());
        return false;
    }
    SafeOutput file;
    Failure error;
    if (file.Open(*output, &error)) {
        auto buffer = std::make_unique<OutputBuffer>(file);
        std::ostream out(buffer.get());
        write(out);
        out.flush();
        if (file.Commit(&error)) return true;
    }
    Say(command, say::OutputNotWritten(Shown(error.message)));
    return false;
}

int EmitPage(const char* command, const std::optional<std::string>& output, bool open,
             const std::string& name, const std::string& page, const std::function<void()>& written) {
    if (!open) {
        if (!Emit(command, output, [&](std::ostream& out) {
                out.write(page.data(), static_cast<std::streamsize>(page.size()));
            }))
            return kExitWrite;
        written();
        if (output) std::cout << Shown(*output) << '\n';
        return kExitOk;
    }
    Failure error;
    const std::optional<PageFile> file = output ? PageFile{*output} : NewFolderPage(command, name, &error);
    if (!file) {
        Say(command, Shown(error.message));
        return kExitWrite;
    }
    const PageOpened result = WriteAndOpenPage(*file, page);
    if (result.not_written) {
        Say(command, say::OutputNotWritten(Shown(result.not_written.message)));
        return kExitWrite;
    }
    written();
    std::cout << Shown(file->path) << '\n';
    if (result.not_opened) {
        Say(command, say::PageNotOpened(result.not_opened.message, Shown(file->path)));
        return kExitOpen;
    }
    return kExitOk;
}

ArchiveCommands::ArchiveCommands(CLI::App& app) {
    archive_ = app.add_subcommand(
        "archive",
        "Checks the saved record files per device: records, gaps, clock set-backs and damaged lines.\n"
        "Exit code 0 when the archive is complete, 5 when it found a gap, a set-back or damage.");
    archive_->add_option("--dir", dir_, "the folder of record files (default: the upload folder)")
        ->type_name("DIR");
    archive_
        ->add_option("--db", db_, "the database the records were loaded into with ingest, instead of --dir")
        ->type_name("URL")
        ->excludes(archive_->get_option("--dir"));
    archive_->add_flag("--json", json_, "print one JSON object");
    archive_
        ->add_option("--limit", limit_,
                     "the permitted value: the JSON lists per device the periods of records above it")
        ->type_name("V")
        ->check(LimitValidator());

    export_ = app.add_subcommand("export", "Writes a device's records oldest first as CSV or JSON.");
    export_->add_option("--product", product_, "the device's product number")
        ->required()
        ->type_name("N")
        ->check(ProductValidator());
    export_->add_option("--dir", dir_, "the folder of record files (default: the upload folder)")
        ->type_name("DIR");
    export_
        ->add_option("--db", db_, "the database the records were loaded into with ingest, instead of --dir")
        ->type_name("URL")
        ->excludes(export_->get_option("--dir"));
    export_->add_option("--from", from_, "the first time to include: YYYY-MM-DD[ hh:mm[:ss]][+hh:mm]")
        ->type_name("TIME")
        ->check(TimeValidator());
    export_->add_option("--to", to_, "the last time to include, in the same form")
        ->type_name("TIME")
        ->check(TimeValidator());
    export_->add_option("--format", format_, "csv (default) or json")
        ->type_name("csv|json")
        ->check(CLI::IsMember({"csv", "json"}));
    export_->add_option("--output", output_, "the file to write (default: standard output)")
        ->type_name("FILE");

    report_ = app.add_subcommand(
        "report",
        "Writes one HTML page with the device's summary, its days, its gaps and a plot of the values over\n"
        "time; without --product an overview of every device with a section each.");
    report_->add_option("--product", product_, "the device's product number (default: every device)")
        ->type_name("N")
        ->check(ProductValidator());
    report_->add_option("--dir", dir_, "the folder of record files (default: the upload folder)")
        ->type_name("DIR");
    report_
        ->add_option("--db", db_, "the database the records were loaded into with ingest, instead of --dir")
        ->type_name("URL")
        ->excludes(report_->get_option("--dir"));
    report_
        ->add_option(
            "--output", output_,
            "the file to write (default: standard output, or with --open a file in the temporary folder)")
        ->type_name("FILE");
    report_->add_flag("--open", open_, "open the page in the desktop's browser");
    report_
        ->add_option("--limit", limit_,
                     "the permitted value: a line on the plot and a table of the periods above it (also "
                     "settable in the page)")
        ->type_name("V")
        ->check(LimitValidator());
}

bool ArchiveCommands::IsCommand(const std::string& word) {
    return word == "archive" || word == "export" || word == "report";
}

std::optional<int> ArchiveCommands::Run() const {
    if (*archive_) return RunArchive();
    if (*export_) return RunExport();
    if (*report_) return RunReport();
    return {};
}

int ArchiveCommands::RunArchive() const {
    int code = kExitOk;
    const std::optional<Archive> source = Source(dir_, db_, "archive", code);
    if (!source) return code;
    const Archive& archive = *source;
    if (NoRecordFiles(archive, "archive", db_.has_value())) return kExitUsage;
    // A folder that holds a ledger says what it proves; one without stays as it was.
    const std::optional<LedgerCheck> ledger = db_ ? std::nullopt : FolderLedgerCheck(archive.folder);

    if (json_) {
        BinaryStandardOutput();
        std::cout << ArchiveJson(archive, {.limit = limit_, .database = db_.has_value()}, ledger);
        return archive.Complete() ? kExitOk : kExitVerify;
    }

    std::string text = ArchiveCheckText(archive, {.now = std::nullopt, .database = db_.has_value()});
    if (ledger) AddLedgerLine(text, *ledger);
    std::cout << text;
    return archive.Complete() ? kExitOk : kExitVerify;
}

int ArchiveCommands::RunExport() const {
    int code = kExitOk;
    const std::optional<Archive> source = Source(dir_, db_, "export", code);
    if (!source) return code;
    const Archive& archive = *source;
    if (NoRecordFiles(archive, "export", db_.has_value())) return kExitUsage;
    const DeviceArchive* device = Device(archive, product_, "export");
    if (!device) return kExitUsage;
    const std::optional<TimeBound> from = from_ ? ParseTimeBound(*from_, false) : std::nullopt;
    const std::optional<TimeBound> to = to_ ? ParseTimeBound(*to_, true) : std::nullopt;
    const std::vector<size_t> order = ChronologicalRecords(*device, from, to);
    if (!Emit("export", output_, [&](std::ostream& out) {
            if (format_ == "json") {
                WriteRecordsJson(archive, *device, order, out);
            } else {
                WriteRecordsCsv(archive, *device, order, out);
            }
        }))
        return kExitWrite;
    SayIncomplete(archive, *device, "export");
    if (output_) std::cout << Shown(*output_) << '\n';
    return kExitOk;
}

int ArchiveCommands::RunReport() const {
    int code = kExitOk;
    const std::optional<Archive> source = Source(dir_, db_, "report", code);
    if (!source) return code;
    const Archive& archive = *source;
    if (NoRecordFiles(archive, "report", db_.has_value())) return kExitUsage;
    const DeviceArchive* device = nullptr;
    if (!product_.empty() && !(device = Device(archive, product_, "report"))) return kExitUsage;

    ReportOptions options;
    options.limit = limit_;
    options.now = static_cast<int64_t>(std::time(nullptr));
    options.database = db_.has_value();
    if (!db_) options.ledger = FolderLedgerCheck(archive.folder);
    const std::string page =
        device ? MakeReportPage(archive, *device, options) : MakeOverviewPage(archive, options);
    const std::string name =
        "korvel-report" + (device ? "-" + std::to_string(device->product) : std::string()) + ".html";
    return EmitPage("report", output_, open_, name, page, [&] {
        if (device) {
            SayIncomplete(archive, *device, "report");
        } else {
            for (const DeviceArchive& each : archive.devices) SayIncomplete(archive, each, "report");
        }
    });
}

}  // namespace korvel::cli
