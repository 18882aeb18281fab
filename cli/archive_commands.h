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

// What the page commands share. Writes to the file named (whole or not at all), or to standard output;
// false after saying why that failed ("korvel-cli: COMMAND: ...", the failure's sentence as it came, and
// for a file what to do).
bool Emit(const char* command, const std::optional<std::string>& output,
          const std::function<void(std::ostream&)>& write);
// Where --open without --output writes its page: name in a new folder of the temporary folder that only
// this user may enter, so no other user can have prepared the name. Nothing after saying why not.
std::optional<std::string> PrivatePageFile(const char* command, const std::string& name);
// Hands the page to the desktop's browser: kExitOk, or kExitOpen after saying why none started.
int OpenPage(const char* command, const std::string& page);

}  // namespace korvel::cli
