// SPDX-License-Identifier: MIT
// The commands of the records' database: ingest loads the record files, fleet shows every recorder.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

namespace korvel::cli {

class IngestCommands {
  public:
    // Adds the two subcommands to app.
    explicit IngestCommands(CLI::App& app);

    static bool IsCommand(const std::string& word);
    // The exit code of the chosen command, or nothing when none of these was chosen.
    std::optional<int> Run() const;

    // Loads the record files of folder (the upload folder when none) into the database that url names
    // (the SQLite file beside the upload folder when none); the exit code.
    static int Ingest(const std::optional<std::string>& folder, const std::optional<std::string>& url);

  private:
    int RunFleet() const;

    CLI::App* ingest_;
    CLI::App* fleet_;
    std::optional<std::string> dir_;
    std::optional<std::string> db_;
    bool json_ = false;
    bool html_ = false;
    bool open_ = false;
    std::optional<std::string> output_;
    int due_days_ = 7;
};

}  // namespace korvel::cli
