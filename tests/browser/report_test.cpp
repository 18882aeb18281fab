// SPDX-License-Identifier: MIT
// The report in a real browser, offline: headless Chromium with no network draws the page, and the
// test reads back what the plot holds and what the gap table lists. Skipped where Chromium is missing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "cli_process.h"
#include "protocol/crc16.h"

namespace korvel::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* kChromium = "/usr/bin/chromium";

// Records i = first..last of product 0123, 121 s apart from 2024-03-05 06:00:00.
std::string Records(int first, int last) {
    std::string bytes;
    for (int i = first; i <= last; ++i) {
        const int s = 6 * 3600 + i * 121;
        char text[64];
        std::snprintf(text, sizeof text, "2024-03-%02d %02d:%02d:%02d+08:00 %d 0123", 5 + s / 86400,
                      s / 3600 % 24, s / 60 % 60, s % 60, (i / 20) % 2 ? 300 + i % 7 : i % 20 * 15);
        char crc[8];
        std::snprintf(crc, sizeof crc, " %04x\n", Crc16(text));
        bytes += text;
        bytes += crc;
    }
    return bytes;
}

// Chromium without a network: a network namespace of its own holds nothing but a loopback that is down.
std::vector<std::string> Browser(const std::string& profile) {
    return {"/usr/bin/unshare",
            "-n",
            kChromium,
            "--headless",
            "--no-sandbox",
            "--disable-gpu",
            "--disable-quic",
            "--no-first-run",
            "--disable-background-networking",
            "--disable-component-update",
            "--disable-sync",
            "--hide-scrollbars",
            "--user-data-dir=" + profile,
            "--virtual-time-budget=10000"};
}

TEST(ReportInBrowser, DrawsEveryRecordAndListsTheGapsOffline) {
    if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
    if (RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}).exit_code != 0)
        GTEST_SKIP() << "cannot make a network namespace here";
    TempDir dir;
    // Three downloads, the middle one lost: one gap of 40 records.
    WriteFile(dir / "240305-080000-123-7b.txt", Records(0, 199));
    WriteFile(dir / "240306-080000-123-7b.txt", Records(240, 299));
    WriteFile(dir / "240307-080000-123-7b.txt", Records(299, 419));
    const ProcessResult report =
        RunCli({"report", "--product", "123", "--dir", dir.path(), "--output", dir / "report.html"});
    ASSERT_EQ(report.exit_code, 0) << report.err;

    std::vector<std::string> dump = Browser(dir / "profile");
    dump.insert(dump.end(), {"--dump-dom", "file://" + dir / "report.html"});
    const ProcessResult dom = RunProcess(dump);
    ASSERT_EQ(dom.exit_code, 0) << dom.err;
    std::smatch body;
    ASSERT_TRUE(std::regex_search(dom.out, body, std::regex("<body[^>]*data-drawn=\"(\\d+)\"[^>]*>")))
        << "the page never finished drawing:\n"
        << dom.out.substr(0, 2000) << dom.err;
    EXPECT_EQ(body[1], "380");  // 200 + 60 + 120 distinct records
    std::smatch gaps;
    ASSERT_TRUE(std::regex_search(dom.out, gaps, std::regex("data-gaps=\"(\\d+)\"")));
    EXPECT_EQ(gaps[1], "1");
    size_t rows = 0;
    for (size_t at = 0; (at = dom.out.find("<tr class=\"gap\">", at)) != std::string::npos; ++at) ++rows;
    EXPECT_EQ(rows, 1u);
    EXPECT_NE(dom.out.find("<td>2024-03-05 12:41:19+08:00</td><td>2024-03-05 14:04:00+08:00</td><td>40</td>"),
              std::string::npos);
    EXPECT_NE(dom.out.find("class=\"uplot"), std::string::npos);

    // The picture for the README (docs/report.png is a copy of it).
    const std::string shots = std::string(KORVEL_BINARY_DIR) + "/screenshots";
    fs::create_directories(shots);
    std::vector<std::string> shot = Browser(dir / "profile2");
    shot.insert(shot.end(), {"--window-size=1100,1000", "--screenshot=" + shots + "/report.png",
                             "file://" + dir / "report.html"});
    const ProcessResult picture = RunProcess(shot);
    EXPECT_EQ(picture.exit_code, 0) << picture.err;
    EXPECT_TRUE(fs::exists(shots + "/report.png"));
}

}  // namespace
}  // namespace korvel::testing
