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
#include "support/record_lines.h"

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

// What Chromium made of a page written by korvel-cli with these arguments.
std::string Dom(const TempDir& dir, const std::vector<std::string>& args, const char* profile) {
    const ProcessResult report = RunCli(args);
    EXPECT_EQ(report.exit_code, 0) << report.err;
    std::vector<std::string> dump = Browser(dir / profile);
    dump.insert(dump.end(), {"--dump-dom", "file://" + dir / "report.html"});
    const ProcessResult dom = RunProcess(dump);
    EXPECT_EQ(dom.exit_code, 0) << dom.err;
    return dom.out;
}

std::vector<std::string> All(const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex re(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

// The rows of one table of the page, as "cell|cell|...".
std::vector<std::string> Rows(const std::string& dom, const std::string& id, const std::string& cls) {
    const size_t start = dom.find("id=\"" + id + "\"");
    if (start == std::string::npos) return {"no table " + id};
    const std::string table = dom.substr(start, dom.find("</table>", start) - start);
    std::vector<std::string> rows;
    for (std::string row : All(table, "<tr class=\"" + cls + "\">(.*?)</tr>")) {
        row = std::regex_replace(row, std::regex("</td><td>"), "|");
        rows.push_back(std::regex_replace(row, std::regex("</?td>"), ""));
    }
    return rows;
}

TEST(OverviewInBrowser, OneRowPerDeviceLinkedToItsSectionWithTheLimitsPeriods) {
    if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
    if (RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}).exit_code != 0)
        GTEST_SKIP() << "cannot make a network namespace here";
    TempDir dir;
    // Product 123: 100 records from 06:00:00, record 95 lost. Above 250: 10..14 (300..304), 40 (260),
    // 70..79 (400) but for 75 (250, not above), 90..99 (500) broken by the lost record.
    auto value = [](int i) {
        if (i >= 10 && i <= 14) return 290 + i;
        if (i == 40) return 260;
        if (i == 75) return 250;
        if (i >= 70 && i <= 79) return 400;
        return i >= 90 ? 500 : 100;
    };
    WriteFile(dir / "240305-100000-123-7b.txt", ClockLines("2024-03-05 06:00:00", "+08:00", 95, value));
    WriteFile(dir / "240305-110000-123-7b.txt",
              ClockLines("2024-03-05 09:13:36", "+08:00", 4, [&](int i) { return value(96 + i); }));
    // Two more devices below the limit, one across a midnight.
    WriteFile(dir / "240306-080000-456-1c8.txt",
              ClockLines(
                  "2024-03-05 23:55:00", "+08:00", 10, [](int i) { return i * 10; }, "0456", 60));
    WriteFile(dir / "240306-080000-7-7.txt",
              ClockLines(
                  "2024-03-06 12:00:00", "+08:00", 3, [](int) { return 9; }, "7"));

    const std::string dom = Dom(
        dir, {"report", "--dir", dir.path(), "--limit", "250", "--output", dir / "report.html"}, "profile");
    std::smatch body;
    ASSERT_TRUE(std::regex_search(dom, body, std::regex("<body[^>]*data-drawn=\"(\\d+)\"[^>]*>")))
        << "the page never finished drawing:\n"
        << dom.substr(0, 2000);
    EXPECT_EQ(body[1], "112");  // 99 + 10 + 3
    EXPECT_EQ(All(dom, "<tr class=\"device\"><td><a href=\"#([^\"]+)\">"),
              (std::vector<std::string>{"product-7", "product-123", "product-456"}));
    for (const auto& [anchor, title] :
         {std::pair{"product-7", "7"}, {"product-123", "0123"}, {"product-456", "0456"}})
        EXPECT_EQ(All(dom, "<section id=\"" + std::string(anchor) + "\">\\s*<h2>([^<]*)</h2>"),
                  std::vector<std::string>{std::string("产品编号 ") + title});
    EXPECT_EQ(Rows(dom, "p123-periods", "period"),
              (std::vector<std::string>{
                  "2024-03-05 06:20:10+08:00|2024-03-05 06:28:14+08:00|0:10:05|304",
                  "2024-03-05 07:20:40+08:00|2024-03-05 07:20:40+08:00|0:02:01|260",
                  "2024-03-05 08:21:10+08:00|2024-03-05 08:29:14+08:00|0:10:05|400",
                  "2024-03-05 08:33:16+08:00|2024-03-05 08:39:19+08:00|0:08:04|400",
                  "2024-03-05 09:01:30+08:00|2024-03-05 09:09:34+08:00|0:10:05|500",
                  "2024-03-05 09:13:36+08:00|2024-03-05 09:19:39+08:00|0:08:04|500",
              }));
    EXPECT_EQ(Rows(dom, "p456-periods", "period"), std::vector<std::string>{});
    EXPECT_EQ(Rows(dom, "p456-days", "day"),
              (std::vector<std::string>{"2024-03-05|5|0:04:00|40|2024-03-05 23:59:00+08:00",
                                        "2024-03-06|5|0:05:00|90|2024-03-06 00:04:00+08:00"}));
    EXPECT_EQ(Rows(dom, "p123-top", "top").front(), "1|2024-03-05 09:01:30+08:00|500");

    const std::string shots = std::string(KORVEL_BINARY_DIR) + "/screenshots";
    fs::create_directories(shots);
    std::vector<std::string> shot = Browser(dir / "profile2");
    shot.insert(shot.end(), {"--window-size=1100,1400", "--screenshot=" + shots + "/overview.png",
                             "file://" + dir / "report.html"});
    EXPECT_EQ(RunProcess(shot).exit_code, 0);
}

// A device whose clock goes from +08:00 to +09:00 across its midnight: every table, the ten highest and
// the cursor's read-out write each time as its record wrote it, as archive --json and the day table do;
// values that are no number are counted and listed with their file and line, as written.
TEST(ReportInBrowser, EachTimeAsItsRecordWroteItAcrossAChangeOfOffset) {
    if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
    if (RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}).exit_code != 0)
        GTEST_SKIP() << "cannot make a network namespace here";
    TempDir dir;
    // 23:20..23:39+08:00, then from the next minute 00:40..00:59+09:00: above 250 from 23:30+08:00 to
    // 00:44+09:00 without a break, and the highest, 500, alone at 00:50+09:00.
    WriteFile(dir / "240303-080000-321-141.txt", ClockLines(
                                                     "2024-03-02 23:20:00", "+08:00", 20,
                                                     [](int i) { return i >= 10 ? 300 : 100; }, "0321", 60));
    WriteFile(dir / "240303-090000-321-141.txt",
              ClockLines(
                  "2024-03-03 00:40:00", "+09:00", 20,
                  [](int i) { return i < 5     ? 300
                                     : i == 10 ? 500
                                               : 100; }, "0321", 60) +
                  RecordLine("2024-03-03 01:00:00+09:00 nan 0321") +
                  RecordLine("2024-03-03 01:01:00+09:00 <b>x</b> 0321"));
    // The cursor at the plot's left and right ends, read back from the legend.
    const std::string page = dir / "report.html";
    ASSERT_EQ(RunCli({"report", "--product", "321", "--dir", dir.path(), "--limit", "250", "--output", page})
                  .exit_code,
              0);
    std::string moved = ReadFile(page);
    moved.insert(moved.rfind("</body>"), R"(<script>
setTimeout(() => {
  const over = document.querySelector(".u-over"), r = over.getBoundingClientRect(), seen = [];
  for (const x of [r.left + 1, r.right - 1]) {
    over.dispatchEvent(new MouseEvent("mousemove", {clientX: x, clientY: r.top + r.height / 2, bubbles: true}));
    seen.push(document.querySelector(".u-legend .u-series .u-value").textContent);
  }
  document.body.dataset.readout = seen.join("|");
}, 2000);
</script>
)");
    WriteFile(dir / "moved.html", moved);
    std::vector<std::string> dump = Browser(dir / "profile");
    dump.insert(dump.end(), {"--dump-dom", "file://" + dir / "moved.html"});
    const ProcessResult dumped = RunProcess(dump);
    ASSERT_EQ(dumped.exit_code, 0) << dumped.err;
    const std::string& dom = dumped.out;

    EXPECT_EQ(Rows(dom, "periods", "period"),
              (std::vector<std::string>{"2024-03-02 23:30:00+08:00|2024-03-03 00:44:00+09:00|0:15:00|300",
                                        "2024-03-03 00:50:00+09:00|2024-03-03 00:50:00+09:00|0:01:00|500"}));
    const std::vector<std::string> top = Rows(dom, "top", "top");
    ASSERT_GE(top.size(), 3u);
    EXPECT_EQ(top[0], "1|2024-03-03 00:50:00+09:00|500");
    EXPECT_EQ(top[1], "2|2024-03-02 23:30:00+08:00|300");
    EXPECT_EQ(Rows(dom, "days", "day"),
              (std::vector<std::string>{"2024-03-02|20|0:20:00|300|2024-03-02 23:30:00+08:00",
                                        "2024-03-03|22|0:20:00|500|2024-03-03 00:50:00+09:00"}));
    EXPECT_EQ(All(dom, "data-readout=\"([^\"]*)\""),
              std::vector<std::string>{"2024-03-02 23:20:00+08:00|2024-03-03 01:01:00+09:00"});
    EXPECT_EQ(Rows(dom, "no-number", "no-number"),
              (std::vector<std::string>{
                  "240303-090000-321-141.txt:21|2024-03-03 01:00:00+09:00|nan",
                  "240303-090000-321-141.txt:22|2024-03-03 01:01:00+09:00|&lt;b&gt;x&lt;/b&gt;"}));
    EXPECT_NE(dom.find("<td>无数值（nan、inf 或文字）</td><td>2</td>"), std::string::npos);

    // The same period as archive --json gives it.
    const ProcessResult json = RunCli({"archive", "--dir", dir.path(), "--json", "--limit", "250"});
    EXPECT_TRUE(std::regex_search(json.out, std::regex("\"start\": \"2024-03-02T23:30:00\\+08:00\",\\s*"
                                                       "\"end\": \"2024-03-03T00:44:00\\+09:00\"")))
        << json.out;
}

TEST(FleetInBrowser, AClickOnAColumnsHeadSortsTheRowsByItAndASecondTheOtherWay) {
    if (access(kChromium, X_OK) != 0) GTEST_SKIP() << "Chromium is not installed (scripts/setup installs it)";
    if (RunProcess({"/usr/bin/unshare", "-n", "/bin/true"}).exit_code != 0)
        GTEST_SKIP() << "cannot make a network namespace here";
    TempDir dir;
    fs::create_directory(dir / "records");
    WriteFile(dir / "records/240305-100000-123-7b.txt", Records(0, 89));
    WriteFile(dir / "records/240305-100000-456-1c8.txt",
              ClockLines(
                  "2024-03-05 06:00:00", "+08:00", 100, [](int) { return 5; }, "0456"));
    WriteFile(dir / "records/240305-100000-789-315.txt",
              ClockLines(
                  "2024-03-05 06:00:00", "+08:00", 10, [](int) { return 5; }, "0789"));
    const std::string db = dir / "korvel.sqlite";
    ASSERT_EQ(RunCli({"ingest", "--dir", dir / "records", "--db", db}).exit_code, 0);
    ASSERT_EQ(RunCli({"fleet", "--db", db, "--html", "--output", dir / "fleet.html"}).exit_code, 5);
    const std::string page = ReadFile(dir / "fleet.html");
    // The clicks a user makes, by column: 记录数 once; 产品编号 twice.
    for (const auto& [clicks, order] :
         {std::pair{"h[2].click();", "789 123 456"}, {"h[0].click(); h[0].click();", "789 456 123"}}) {
        SCOPED_TRACE(clicks);
        std::string clicked = page;
        clicked.insert(
            clicked.rfind("</body>"),
            std::string("<script>const h = document.querySelectorAll(\"th\"); ") + clicks + "</script>\n");
        WriteFile(dir / "clicked.html", clicked);
        std::vector<std::string> dump = Browser(dir / "profile");
        dump.insert(dump.end(), {"--dump-dom", "file://" + dir / "clicked.html"});
        const ProcessResult dom = RunProcess(dump);
        ASSERT_EQ(dom.exit_code, 0) << dom.err;
        std::string products;
        for (const std::string& product : All(dom.out, "<tr[^>]*><td data-sort=\"(\\d+)\">"))
            products += (products.empty() ? "" : " ") + product;
        EXPECT_EQ(products, order);
    }
}

}  // namespace
}  // namespace korvel::testing
