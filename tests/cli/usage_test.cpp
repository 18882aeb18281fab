// SPDX-License-Identifier: MIT
// The command line itself: help, usage errors and their exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli_process.h"

namespace korvel::testing {
namespace {

TEST(Usage, HelpDescribesEveryCommandAndExitCode) {
    const ProcessResult result = RunCli({"--help"});
    EXPECT_EQ(result.exit_code, 0);
    for (const char* text : {"korvel-cli ports", "korvel-cli info      --port PATH [--baud RATE] [--json]",
                             "korvel-cli sync-time --port PATH [--baud RATE]",
                             "korvel-cli download  --port PATH [--baud RATE] [--dir DIR] [--retries N]",
                             "korvel-cli verify    PATH...", "5  verify found a problem"}) {
        EXPECT_NE(result.out.find(text), std::string::npos) << text;
    }
    const ProcessResult download = RunCli({"download", "--help"});
    EXPECT_EQ(download.exit_code, 0);
    EXPECT_NE(download.out.find("--retries N"), std::string::npos) << download.out;
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
