// SPDX-License-Identifier: MIT
#include "report_page.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "text/shown.h"

namespace korvel::cli {
namespace {

// Every text from a file or a device goes through here: it is shown, never read as markup.
std::string Html(std::string_view text) {
    const std::string shown = Shown(text);
    std::string out;
    out.reserve(shown.size());
    for (char c : shown) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// A script may not hold "</script" anywhere, not even in a string; "<\/" means the same to it.
std::string InlineScript(std::string_view script) {
    std::string out(script);
    for (size_t at = 0; (at = out.find("</", at)) != std::string::npos; at += 3) out.replace(at, 2, "<\\/");
    return out;
}

void AppendNumber(std::string& out, int64_t value) {
    char digits[24];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

void AppendNumber(std::string& out, double value) {
    char digits[32];
    out.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

std::string OffsetText(int minutes) {
    char text[16];
    const int magnitude = minutes < 0 ? -minutes : minutes;
    std::snprintf(text, sizeof text, "UTC%c%02d:%02d", minutes < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

// The points of the plot, oldest first: x as the records' clock time at the most common offset (so the
// axis reads as the files do), y the value or null. A null point sits in every gap, so the line breaks
// there instead of joining the two sides. Times go as steps from the first, which keeps the page small.
struct Series {
    std::string data;  // JavaScript: {t0: ..., dt: [...], v: [...]}
    size_t points = 0;
    size_t nonfinite = 0;  // nan and inf, drawn as breaks
    int offset = 0;
};

Series MakeSeries(const DeviceArchive& device) {
    std::map<int, size_t> offsets;
    for (const ArchiveRecord& record : device.records) ++offsets[record.offset];
    Series series;
    if (!offsets.empty()) {
        series.offset = std::max_element(offsets.begin(), offsets.end(), [](auto& a, auto& b) {
                            return a.second < b.second;
                        })->first;
    }
    const std::vector<size_t> order = ChronologicalRecords(device, std::nullopt, std::nullopt);
    std::string dt = "[";
    std::string v = "[";
    int64_t t0 = 0;
    int64_t previous = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const ArchiveRecord& record = device.records[order[i]];
        const int64_t x = record.utc + int64_t{series.offset} * 60;
        if (i == 0) {
            t0 = previous = x;
        } else {
            if (2 * (x - previous) > 3 * device.interval) {
                AppendNumber(dt, int64_t{1});
                dt += ',';
                v += "null,";
                ++previous;
            }
            AppendNumber(dt, x - previous);
            dt += ',';
        }
        if (i == 0) {
            AppendNumber(dt, int64_t{0});
            dt += ',';
        }
        const std::optional<double> number = RecordNumber(device, record);
        if (number && !std::isfinite(*number)) {
            // The script has no such literal: the point is a break in the line, and counted.
            v += "null";
            ++series.nonfinite;
        } else if (number) {
            if (!(record.flags & ArchiveRecord::kTextValue)) {
                AppendNumber(v, int64_t{record.value});
            } else {
                AppendNumber(v, *number);
            }
            ++series.points;
        } else {
            v += "null";
        }
        v += ',';
        previous = x;
    }
    if (dt.back() == ',') dt.pop_back();
    if (v.back() == ',') v.pop_back();
    series.data = "{\"t0\":";
    AppendNumber(series.data, t0);
    series.data += ",\"dt\":" + dt + "],\"v\":" + v + "]}";
    return series;
}

std::string Row(std::initializer_list<std::string> cells, const char* cls = nullptr) {
    std::string row = cls ? std::string("<tr class=\"") + cls + "\">" : "<tr>";
    for (const std::string& cell : cells) row += "<td>" + cell + "</td>";
    return row + "</tr>\n";
}

std::string Where(const Archive& archive, const ArchiveLine& where) {
    return Html(archive.files[where.file].relative) + ':' + std::to_string(where.line);
}

// Long lists are cut: the page stays light however damaged an archive is.
constexpr size_t kListedAtMost = 1000;

std::string More(size_t count) {
    return count > kListedAtMost ? "<p class=\"more\">另有 " + std::to_string(count - kListedAtMost) +
                                       " 项未列出（korvel-cli archive 列出全部）。</p>\n"
                                 : "";
}

constexpr const char* kStyle = R"(
body { font-family: "Noto Sans CJK SC", "WenQuanYi Micro Hei", "Microsoft YaHei", sans-serif; margin: 16px 24px; color: #222; }
h1 { font-size: 20px; margin: 0 0 12px; }
h2 { font-size: 16px; margin: 20px 0 8px; }
table { border-collapse: collapse; font-size: 13px; }
td, th { border: 1px solid #ccc; padding: 3px 10px; text-align: left; }
th { background: #f2f2f2; }
#summary td:first-child { background: #f7f7f7; }
.ok { color: #1a7f37; } .bad { color: #b42318; }
#tools { margin: 8px 0; font-size: 13px; }
#tools button { margin-right: 12px; }
.more { font-size: 13px; color: #666; }
)";

// Draws once the page is read; sets data-drawn (points drawn) on <body> when the plot is first drawn.
constexpr const char* kScript = R"(
(function () {
  const d = DATA;
  const xs = new Array(d.dt.length);
  let t = d.t0;
  for (let i = 0; i < d.dt.length; i++) { t += d.dt[i]; xs[i] = t; }
  const points = d.v.reduce((n, y) => n + (y === null ? 0 : 1), 0);
  const box = document.getElementById("plot");
  const size = () => ({ width: Math.max(box.clientWidth, 400), height: 420 });
  const format = uPlot.fmtDate("{YYYY}-{MM}-{DD}\n{HH}:{mm}");
  const stamp = date => format(date);
  // The times are the records' own clock times, shown as they are whatever the browser's time zone.
  const utc = ts => uPlot.tzDate(new Date(ts * 1e3), "Etc/UTC");
  let marked = false;
  const plot = new uPlot(Object.assign(size(), {
    tzDate: utc,
    cursor: { drag: { x: true, y: false } },
    scales: { x: { time: true } },
    series: [
      { label: "时间", value: "{YYYY}-{MM}-{DD} {HH}:{mm}:{ss}" },
      { label: "速度", stroke: "#1f6fb5", width: 1, spanGaps: false,
        value: (u, y) => y === null ? "—" : y },
    ],
    axes: [{ label: AXIS, space: 80, values: (u, splits) => splits.map(ts => stamp(utc(ts))) },
           { label: "速度" }],
    hooks: { draw: [() => {
      if (marked) return;
      marked = true;
      document.body.dataset.drawMs = Math.round(performance.now());
      document.body.dataset.gaps = document.querySelectorAll("#gaps tr.gap").length;
      document.body.dataset.drawn = points;
    }] },
  }), [xs, d.v], box);
  document.getElementById("reset").addEventListener("click", () => {
    if (xs.length) plot.setScale("x", { min: xs[0], max: xs[xs.length - 1] });
  });
  window.addEventListener("resize", () => plot.setSize(size()));
  if (!xs.length) document.body.dataset.drawn = 0;
})();
)";

}  // namespace

std::string MakeReportPage(const Archive& archive, const DeviceArchive& device) {
    const auto& records = device.records;
    const Series series = MakeSeries(device);
    const std::string product = std::to_string(device.product);
    const std::string spelled = device.spellings.empty() ? product : Html(device.spellings.front());

    std::string page;
    page.reserve(series.data.size() + UplotScript().size() + 16384);
    page += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>产品编号 " + spelled + " 运行速度记录报告</title>\n<style>\n";
    page += UplotStyle();
    page += kStyle;
    page += "</style>\n</head>\n<body>\n";
    page += "<h1>产品编号 " + spelled + " 运行速度记录</h1>\n";

    page += "<table id=\"summary\">\n";
    page += Row({"记录文件夹", Html(archive.folder)});
    page += Row({"文件数", std::to_string(device.files.size())});
    page += Row({"有效行数", std::to_string(device.valid_lines)});
    page += Row({"记录数（去重）", std::to_string(records.size())});
    if (!records.empty()) {
        page += Row({"最早记录", RecordTimestamp(records[device.earliest])});
        page += Row({"最新记录", RecordTimestamp(records[device.newest])});
    }
    page += Row({"记录间隔", std::to_string(device.interval) + " 秒"});
    page += Row({"缺口", std::to_string(device.gaps.size())});
    page += Row({"时钟回拨", std::to_string(device.jumps.size())});
    page += Row({"损坏行", std::to_string(device.DamagedLines())});
    page += Row({"冲突记录", std::to_string(device.conflicts.size())});
    page += Row({"非有限值（nan、inf）", std::to_string(series.nonfinite)});
    page += Row({"无法读取", std::to_string(device.unreadable.size() + archive.folders.size())});
    page += Row({"结论", archive.Complete(device) ? "<span class=\"ok\">完整</span>"
                                                  : "<span class=\"bad\">不完整</span>"});
    page += "</table>\n";

    page +=
        "<h2>运行速度曲线</h2>\n<div id=\"tools\"><button id=\"reset\" type=\"button\">重置缩放</button>"
        "拖动鼠标选择时间段可放大，双击也可复原。</div>\n<div id=\"plot\"></div>\n";

    page +=
        "<h2>缺口</h2>\n<table "
        "id=\"gaps\">\n<tr><th>序号</th><th>开始</th><th>结束</th><th>缺少记录数</th></tr>\n";
    for (size_t i = 0; i < device.gaps.size() && i < kListedAtMost; ++i) {
        const ArchiveGap& gap = device.gaps[i];
        page += Row({std::to_string(i + 1), RecordTimestamp(records[gap.before]),
                     RecordTimestamp(records[gap.after]), std::to_string(gap.missing)},
                    "gap");
    }
    page += "</table>\n" + More(device.gaps.size());

    if (!device.jumps.empty()) {
        page += "<h2>时钟回拨</h2>\n<table id=\"jumps\">\n<tr><th>位置</th><th>之前</th><th>之后</th></tr>\n";
        for (size_t i = 0; i < device.jumps.size() && i < kListedAtMost; ++i) {
            const ClockJump& jump = device.jumps[i];
            page += Row({Where(archive, jump.where), RecordTimestamp(records[jump.before]),
                         RecordTimestamp(records[jump.after])});
        }
        page += "</table>\n" + More(device.jumps.size());
    }
    if (!device.damaged.empty()) {
        page += "<h2>损坏行</h2>\n<table id=\"damaged\">\n<tr><th>位置</th><th>原因</th></tr>\n";
        for (size_t i = 0; i < device.damaged.size() && i < kListedAtMost; ++i) {
            const DamagedLine& line = device.damaged[i];
            page += Row({Where(archive, line.where), Html(line.reason)});
        }
        page += "</table>\n" + More(device.damaged.size());
    }

    page += "<script>\n";
    page += InlineScript(UplotScript());
    page += "\n</script>\n<script>\n";
    std::string script = kScript;
    script.replace(script.find("DATA"), 4, series.data);
    script.replace(script.find("AXIS"), 4, "\"时间 (" + OffsetText(series.offset) + ")\"");
    page += InlineScript(script);
    page += "</script>\n</body>\n</html>\n";
    return page;
}

}  // namespace korvel::cli
