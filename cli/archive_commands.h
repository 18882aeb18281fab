// SPDX-License-Identifier: MIT
// The commands that read the saved record files: archive, export and report.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <optional>
#include <ostream>
#include <string>

#include "text/failure.h"

namespace korvel::cli {

class ArchiveCommands {
  public:
    // Adds the three subcommands to app.
    explicit ArchiveCommands(CLI::App& app);

    static bool IsCommand(const std::string& word);
    // The exit code of the chosen command, or nothing when none of these was chosen.
    std::optional<int> Run() const;

  private:
    int RunArchive() const;
    int RunExport() const;
    int RunReport() const;

    CLI::App* archive_;
    CLI::App* export_;
    CLI::App* report_;

    std::optional<std::string> dir_;
    std::optional<std::string> db_;
    bool json_ = false;
    std::string product_;
    std::optional<std::string> from_;
    std::optional<std::string> to_;
    std::string format_ = "csv";
    std::optional<std::string> output_;
    bool open_ = false;
    std::optional<double> limit_;
};

// The folder a command reads: dir, by default the upload folder. Nothing, and the exit code, after saying
// why it cannot be read.
std::optional<std::string> Folder(const std::optional<std::string>& dir, const char* command, int& code,
                                  const std::string& naming = "with --dir");

// What the page commands share. Writes to the file named (whole or not at all), or to standard output;
// false after saying why that failed ("korvel-cli: COMMAND: ...", the failure's sentence as it came, and
// for a file what to do).
bool Emit(const char* command, const std::optional<std::string>& output,
          const std::function<void(std::ostream&)>& write);
// A page the command made, written to --output or standard output; with --open to --output or to `name` in a
// new folder of its own that only this user may enter (views/page_file.h), then handed to the browser.
// Once it is written, `written` says what follows it, then the file's name is printed. kExitOk, or
// kExitWrite or kExitOpen after saying why.
int EmitPage(
    const char* command, const std::optional<std::string>& output, bool open, const std::string& name,
    const std::string& page, const std::function<void()>& written = [] {});

}  // namespace korvel::cli
