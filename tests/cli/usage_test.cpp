// SPDX-License-Identifier: MIT
// The command line itself: help, usage errors and their exit code.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "support/paths.h"

namespace korvel::testing {
namespace {

TEST(Usage, HelpDescribesEveryCommandAndExitCode) {
    const ProcessResult result = RunCli({"--help"});
    EXPECT_EQ(result.exit_code, 0);
    for (const char* text : {"korvel-cli ports", "korvel-cli info      --port PATH [--baud RATE] [--json]",
                             "korvel-cli sync-time --port PATH [--baud RATE]",
                             "korvel-cli download  --port PATH [--baud RATE] [--dir DIR] [--retries N]",
                             "korvel-cli verify    [PATH...] [--ledger]", "5  verify found a problem"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    const ProcessResult download = RunCli({"download", "--help"});
    EXPECT_EQ(download.exit_code, 0);
    EXPECT_NE(download.out.find("--retries N"), std::string::npos) << download.out;
}

std::string SourceFile(const std::string& relative) {
    std::ifstream in(std::filesystem::path(VectorsDir()) / "../.." / relative);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The lines of text that begin with prefix, leading blanks dropped.
std::vector<std::string> LinesStarting(const std::string& text, const std::string& prefix) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    }
    return lines;
}

TEST(Usage, TheHelpsSynopsisIsTheReadmes) {
    // The README's synopsis is written for people; the help's is made from the option table. One may
    // not leave the other behind (the help once lacked --db, --limit and fleet's --html).
    const ProcessResult help = RunCli({"--help"});
    ASSERT_EQ(help.exit_code, 0);
    const std::string text = SourceFile("README.md");
    const size_t section = text.find("## The command line");
    const size_t begin = text.find("```\n", section) + 4;
    const std::vector<std::string> readme =
        LinesStarting(text.substr(begin, text.find("```", begin) - begin), "korvel-cli ");
    ASSERT_EQ(readme.size(), 11u) << "the README's synopsis of the eleven commands";
    EXPECT_EQ(LinesStarting(help.out, "korvel-cli "), readme);
    EXPECT_EQ(help.out.find("report    --product"), std::string::npos) << "--product of report is optional";
}

TEST(Usage, EveryProgramSaysItsVersionAsTheDebianChangelogDoes) {
    // The changelog's first line: "korvel (2.0.8) ...".
    const std::string changelog = SourceFile("debian/changelog");
    const size_t open = changelog.find('('), close = changelog.find(')');
    ASSERT_NE(close, std::string::npos);
    const std::string version = changelog.substr(open + 1, close - open - 1);
    std::vector<std::pair<std::string, std::string>> programs = {{"korvel-cli", CliPath()},
                                                                 {"korvel-sim", SimulatorPath()}};
    if (std::filesystem::exists(BinaryDir() + "/gui/korvel"))
        programs.push_back({"korvel", BinaryDir() + "/gui/korvel"});
    for (const auto& [name, path] : programs) {
        const ProcessResult result = RunProcess({path, "--version"});
        EXPECT_EQ(result.exit_code, 0) << name << ": " << result.err;
        EXPECT_EQ(result.out, name + " " + version + "\n") << name;
    }
}

struct BadLine {
    std::vector<std::string> args;
    const char* says;
};

TEST(Usage, MistakesExitWithTwoAndOneClearLine) {
    const std::vector<BadLine> cases = {
        {{}, "A subcommand is required"},
        {{"fetch"}, "unknown command fetch"},
        {{"info"}, "--port is required"},
        {{"info", "--port", "/dev/null", "--baud", "1234"}, "the rate 1234 is not one of 300, 600"},
        {{"download", "--port", "/dev/null", "--retries", "-1"}, "whole number"},
        {{"download", "--port", "/dev/null", "--retries", "x"}, "whole number"},
        {{"sync-time", "--port", "/dev/null", "--json"}, "--json"},
        {{"verify"}, "PATH is required"},
    };
    for (const BadLine& bad : cases) {
        const ProcessResult result = RunCli(bad.args);
        EXPECT_EQ(result.exit_code, 2) << bad.says;
        EXPECT_TRUE(result.out.empty()) << result.out;
        EXPECT_NE(result.err.find(bad.says), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    }
}

}  // namespace
}  // namespace korvel::testing
