// SPDX-License-Identifier: MIT
// The commands that read the saved record files: archive, export and report.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

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

}  // namespace korvel::cli
