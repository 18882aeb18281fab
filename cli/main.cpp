// SPDX-License-Identifier: MIT
// korvel-cli: the recorder tool without a window, for scripts and servers.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "app/daily_task.h"
#include "archive_commands.h"
#include "device_commands.h"
#include "exit_codes.h"
#include "ingest_commands.h"
#include "ledger_commands.h"
#include "system.h"
#include "text/file_system.h"
#include "text/shown.h"
#include "text/utf8.h"
#include "text/version.h"
#include "ui/dialog_template.h"
#include "verify.h"

namespace korvel::cli {
namespace {

// "--port PATH", "--json", "--ingest [URL]" or "PATH...": an option as the synopsis writes it.
std::string OptionText(const CLI::Option& option) {
    if (option.get_positional()) return option.get_type_name();
    std::string text = "--" + option.get_lnames().front();
    if (option.get_expected_max() == 0) return text;
    // CLI11 appends its checks' descriptions after a colon ("DAYS:INT in [0 - 36500]").
    const std::string full = option.get_type_name();
    const std::string value = full.substr(0, full.find(':'));
    if (option.get_expected_min() == 0 && value.front() != '[') return text + " [" + value + "]";
    return text + " " + value;
}

// One line per command, made from the options the commands were given: required ones bare, the others
// in brackets, options that exclude the one before them in its bracket ("[--dir DIR | --db URL]").
std::string Synopsis(const CLI::App& app) {
    std::string text = "Synopsis:";
    for (const CLI::App* command : app.get_subcommands({})) {
        std::string line;
        const CLI::Option* before = nullptr;
        for (const CLI::Option* option : command->get_options()) {
            if (option == command->get_help_ptr()) continue;
            const std::set<CLI::Option*> excluded = option->get_excludes();
            if (before && line.back() == ']' && !option->get_required() &&
                excluded.count(const_cast<CLI::Option*>(before))) {
                line.insert(line.size() - 1, " | " + OptionText(*option));
            } else if (option->get_required()) {
                line += " " + OptionText(*option);
            } else {
                line += " [" + OptionText(*option) + "]";
            }
            before = option;
        }
        std::string name = "\n  korvel-cli " + command->get_name();
        if (!line.empty()) name.resize(std::max<size_t>(name.size(), 23), ' ');
        text += name + line;
    }
    return text;
}

constexpr const char* kExitCodes = R"(Exit codes:
  0  success
  1  the device did not answer or its reply was refused (after the retries), made no
     progress for too long, or sent none of the records it reported
  2  usage error
  3  the port could not be opened, or was lost
  4  the record file could not be written, or was saved but not recorded in the ledger;
     the database could not be reached or written
  5  verify found a problem (with --ledger: a file not proven, or the chain broken; with
     --db too: the database's witness disagrees); archive found a gap, a clock set-back or
     damage; ingest found damaged lines, or a ledger that contradicts the witness; fleet
     found a recorder incomplete or due, or a ledger not intact
  6  the download ended but skipped records that kept failing their checksum
     (the record file is written; the message names the skipped indices)
  7  the report was written, but no browser could be started for it
  130  interrupted (Ctrl-C, SIGTERM, SIGHUP)
See korvel-cli(1) for details.)";

std::string Ascii(std::u16string_view digits) { return std::string(digits.begin(), digits.end()); }

std::string BaudList() {
    std::string list;
    for (std::u16string_view rate : kBaudRates) {
        if (!list.empty()) list += ", ";
        list += Ascii(rate);
    }
    return list;
}

int BaudIndex(const std::string& rate) {
    for (size_t i = 0; i < kBaudRates.size(); ++i) {
        if (Ascii(kBaudRates[i]) == rate) return static_cast<int>(i);
    }
    return -1;
}

void AddPortOptions(CLI::App& command, DeviceOptions& options, std::string& baud) {
    command.add_option("--port", options.port, PortOptionHelp())->required()->type_name("PATH");
    command
        .add_option("--baud", baud,
                    "the line's rate in bit/s, one of the dialog's list (default " +
                        Ascii(kBaudRates[kDefaultBaudIndex]) + ")")
        ->type_name("RATE")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (BaudIndex(value) >= 0) return {};
                return "the rate " + value + " is not one of " + BaudList();
            },
            ""));
}

int RunDaily(const std::string& port, bool remove) {
    const std::u16string name = DailyTaskName(ThisEdition());
    if (remove == !port.empty()) {
        std::cerr << "korvel-cli: daily: give either --port COMn (make the task) or --remove\n";
        return kExitUsage;
    }
    if (!remove && !IsComPortName(Utf8ToWide(port))) {
        std::cerr << "korvel-cli: daily: \"" << Shown(port)
                  << "\" is not a COM port name: give it as COM3 (COM1 to COM256) or \\\\.\\COM10\n";
        return kExitUsage;
    }
    if (const Failure failure = remove ? RemoveDailyTask() : RegisterDailyTask(Utf8ToWide(port))) {
        std::cerr << "korvel-cli: daily: " << failure.message << '\n';
        return kExitWrite;
    }
    if (remove) {
        std::cout << "the task \"" << WideToUtf8(name) << "\" is removed (or was not there)\n";
    } else {
        std::cout << "the task \"" << WideToUtf8(name) << "\" downloads " << port
                  << " daily at 12:00 into the upload folder; each run's result goes to " << kDailyLogName
                  << " there\n";
    }
    return kExitOk;
}

}  // namespace

int Main(int argc, char** argv) {
    CLI::App app(
        "Reads a winch running-speed recorder over a serial line: shows its information, sets its\n"
        "clock and downloads its records into checksummed text files.",
        "korvel-cli");
    app.require_subcommand(1, 1);
    app.set_version_flag("--version", VersionLine("korvel-cli"), "print the version and exit");
    app.get_formatter()->column_width(24);

    DeviceOptions options;
    std::string baud = Ascii(kBaudRates[kDefaultBaudIndex]);
    std::vector<std::string> verify_paths;

    CLI::App* ports =
        app.add_subcommand("ports", "Lists the serial ports, one path per line, in the dialog's order.");

    CLI::App* info = app.add_subcommand(
        "info", "Reads the device information: product, firmware, protocol, records, indices and clocks.");
    AddPortOptions(*info, options, baud);
    info->add_flag("--json", options.json, "print one JSON object instead of \"key: value\" lines");
    info->add_option(
            "--dir", options.dir,
            "the folder of record files, for the records not yet downloaded (default: the upload folder)")
        ->type_name("DIR");

    CLI::App* sync_time =
        app.add_subcommand("sync-time", "Sets the device clock to this computer's local time.");
    AddPortOptions(*sync_time, options, baud);

    CLI::App* download = app.add_subcommand(
        "download",
        "Downloads the records that are not saved yet into a new record file; prints its path last.");
    AddPortOptions(*download, options, baud);
    download->add_option("--dir", options.dir, "the folder of record files (default: the upload folder)")
        ->type_name("DIR");
    download
        ->add_option(
            "--retries", options.retries,
            "how often an unanswered request is repeated without progress before giving up (default 3)")
        ->type_name("N")
        ->check(CLI::Validator(
            [](std::string& value) -> std::string {
                if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos &&
                    value.size() <= 6) {
                    return {};
                }
                return "the number of retries must be a whole number from 0 to 999999, not " + value;
            },
            ""));

    std::string download_ingest_url;
    CLI::Option* download_ingest =
        download
            ->add_option("--ingest", download_ingest_url,
                         "after the download, load the folder's record files into a database (URL as ingest "
                         "--db takes it; without one the SQLite file beside the upload folder)")
            ->expected(0, 1)
            ->type_name("[URL]");

    CLI::App* verify = app.add_subcommand(
        "verify", "Checks record files: checksums, product numbers, timestamp order, repeated lines.");
    verify->add_option("PATH", verify_paths, "record files, or folders searched recursively")
        ->type_name("PATH...");
    bool verify_ledger = false, verify_adopt = false;
    verify->add_flag(
        "--ledger", verify_ledger,
        "check the folder (PATH, one; default the upload folder) against its ledger of downloads:\n"
        "per device the files proven, changed, missing and unrecorded, and the chain");
    verify
        ->add_flag("--adopt", verify_adopt,
                   "with --ledger: first record the files no entry holds (from before the ledger) as adopted")
        ->needs("--ledger");
    std::optional<std::string> verify_db;
    verify
        ->add_option("--db", verify_db,
                     "with --ledger: also compare the folder and its ledger with what the database received\n"
                     "from ingest (the witness the PC cannot rewrite)")
        ->type_name("URL")
        ->needs("--ledger");

    CLI::App* daily = app.add_subcommand(
        "daily",
        "Windows: makes the daily task that downloads the recorder on --port into the upload folder of the\n"
        "user logged on to this session (also when run elevated as another account), at 12:00 or as soon\n"
        "as the PC is on after, without a window; each run's result goes to korvel-daily.log beside the\n"
        "records. Replaces this edition's earlier task; --remove removes it. Exit code 4 when the Task\n"
        "Scheduler refused.");
    std::string daily_port;
    bool daily_remove = false;
    daily->add_option("--port", daily_port, "the COM port of the recorder: COM3, or \\\\.\\COM10")
        ->type_name("COMn");
    daily->add_flag("--remove", daily_remove, "remove this edition's daily task instead");

    const ArchiveCommands archive_commands(app);
    const IngestCommands ingest_commands(app);

    // Set last, so that the subcommands' help does not repeat it.
    app.footer(Synopsis(app) + "\n\n" + kExitCodes);

    if (argc > 1 && argv[1][0] != '-') {
        const std::string word = argv[1];
        if (word != "ports" && word != "info" && word != "sync-time" && word != "download" &&
            word != "verify" && word != "daily" && !ArchiveCommands::IsCommand(word) &&
            !IngestCommands::IsCommand(word)) {
            std::cerr << "korvel-cli: unknown command " << argv[1]
                      << "; the commands are ports, info, sync-time, download, verify, archive, export, "
                         "report, ingest, fleet and daily\n";
            return kExitUsage;
        }
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& version) {
        std::cout << version.what() << '\n';
        return kExitOk;
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return kExitOk;
    } catch (const CLI::ExcludesError& error) {
        // "--dir excludes --db": two options that name the same thing in two ways.
        std::cerr << "korvel-cli: " << error.what() << ": give one of them (see korvel-cli --help)\n";
        return kExitUsage;
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) {
            // --help of a subcommand
            std::cout << (app.get_subcommands().empty() ? app.help() : app.get_subcommands().front()->help());
            return kExitOk;
        }
        std::cerr << "korvel-cli: " << error.what() << " (see korvel-cli --help)\n";
        return kExitUsage;
    }
    options.baud_index = BaudIndex(baud);

    if (*ports) return RunPorts();
    if (*info) return RunInfo(options);
    if (*sync_time) return RunSyncTime(options);
    if (*download) {
        const int code = RunDownload(options);
        if (download_ingest->count() == 0 || (code != kExitOk && code != kExitSkipped)) return code;
        const int ingested = IngestCommands::Ingest(
            options.dir,
            download_ingest_url.empty() ? std::nullopt : std::optional<std::string>(download_ingest_url));
        return ingested != kExitOk ? ingested : code;
    }
    if (*verify && verify_ledger) {
        if (verify_paths.size() > 1) {
            std::cerr << "korvel-cli: verify: --ledger checks one folder, not " << verify_paths.size()
                      << '\n';
            return kExitUsage;
        }
        return RunVerifyLedger(verify_paths.empty() ? std::nullopt : std::optional(verify_paths[0]),
                               verify_adopt, verify_db);
    }
    if (*verify) {
        if (verify_paths.empty()) {
            std::cerr << "korvel-cli: verify: PATH is required (see korvel-cli --help)\n";
            return kExitUsage;
        }
        for (const std::string& path : verify_paths) {
            if (!FileExists(path)) {
                std::cerr << "korvel-cli: verify: " << path << ": no such file or folder\n";
                return kExitUsage;
            }
        }
        return VerifyPaths(verify_paths, std::cout).problems == 0 ? kExitOk : kExitVerify;
    }
    if (*daily) return RunDaily(daily_port, daily_remove);
    if (const std::optional<int> code = archive_commands.Run()) return *code;
    if (const std::optional<int> code = ingest_commands.Run()) return *code;
    return kExitUsage;
}

}  // namespace korvel::cli

int main(int argc, char** argv) {
    std::vector<std::string> arguments = korvel::cli::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& argument : arguments) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return korvel::cli::Main(static_cast<int>(arguments.size()), pointers.data());
}
