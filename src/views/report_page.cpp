// SPDX-License-Identifier: MIT
#include "views/report_page.h"
#include "protocol/record_index.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

#include "archive/running_summary.h"
#include "text/shown.h"
#include "views/archive_text.h"
#include "views/page_assets.h"
#include "views/record_texts.h"

namespace korvel {
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

// The points of the plot, oldest first: x the instant (seconds since 1970 UTC), y the value or null. A
// null point sits in every gap, so the line breaks there instead of joining the two sides. Times go as
// steps from the first, which keeps the page small. Each point's own offset goes with it as runs
// ([first point, minutes, "+hh:mm"]): the page writes every time as its record wrote it, across changes
// of UTC offset.
struct Series {
    std::string data;  // JavaScript: {t0: ..., dt: [...], v: [...], o: [[i, minutes, text], ...]}
    size_t points = 0;
    size_t offsets = 0;  // runs of one offset
};

std::string OffsetOnly(const ArchiveRecord& record) {
    // As the line wrote it: the text after the clock time ("+08:00", "-00:00").
    return RecordTimestamp(record).substr(19);
}

Series MakeSeries(const DeviceArchive& device, const std::vector<size_t>& order) {
    Series series;
    std::string dt = "[";
    std::string v = "[";
    std::string o = "[";
    int64_t t0 = 0;
    int64_t previous = 0;
    size_t point = 0;
    int run_offset = 0;
    uint8_t run_zero = 0;
    for (size_t i = 0; i < order.size(); ++i) {
        const ArchiveRecord& record = device.records[order[i]];
        const int64_t x = record.utc;
        if (i == 0) {
            t0 = previous = x;
        } else {
            if (2 * (x - previous) > 3 * device.interval) {
                AppendNumber(dt, int64_t{1});
                dt += ',';
                v += "null,";
                ++previous;
                ++point;
            }
            AppendNumber(dt, x - previous);
            dt += ',';
        }
        if (i == 0) {
            AppendNumber(dt, int64_t{0});
            dt += ',';
        }
        const uint8_t zero = record.flags & ArchiveRecord::kMinusZero;
        if (i == 0 || record.offset != run_offset || zero != run_zero) {
            if (series.offsets++) o += ',';
            o += '[';
            AppendNumber(o, static_cast<int64_t>(point));
            o += ',';
            AppendNumber(o, int64_t{record.offset});
            o += ",\"" + OffsetOnly(record) + "\"]";
            run_offset = record.offset;
            run_zero = zero;
        }
        const std::optional<double> number = RecordNumber(device, record);
        if (number && std::isfinite(*number)) {
            if (!(record.flags & ArchiveRecord::kTextValue)) {
                AppendNumber(v, int64_t{record.value});
            } else {
                AppendNumber(v, *number);
            }
            ++series.points;
        } else {
            // No number (nan, inf, text): the script has no such literal; the point is a break in the line.
            v += "null";
        }
        v += ',';
        previous = x;
        ++point;
    }
    if (dt.back() == ',') dt.pop_back();
    if (v.back() == ',') v.pop_back();
    series.data = "{\"t0\":";
    AppendNumber(series.data, t0);
    series.data += ",\"dt\":" + dt + "],\"v\":" + v + "],\"o\":" + o + "]}";
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

std::string NumberText(double value) {
    std::string out;
    AppendNumber(out, value);
    return out;
}

std::string ValueText(const DeviceArchive& device, size_t index) {
    std::string scratch;
    return Html(RecordValue(device, device.records[index], scratch));
}

// "YYYY-MM-DD hh:mm:ss" from a name's yyyymmddhhmmss, or nothing when unreadable.
std::string NameTimeText(int64_t t) {
    if (t < 0) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", static_cast<int>(t / 10000000000),
                  static_cast<int>(t / 100000000 % 100), static_cast<int>(t / 1000000 % 100),
                  static_cast<int>(t / 10000 % 100), static_cast<int>(t / 100 % 100),
                  static_cast<int>(t % 100));
    return text;
}

std::string LastDownload(const Archive& archive, const DeviceArchive& device) {
    int64_t newest = -1;
    for (uint32_t file : device.files) newest = std::max(newest, archive.files[file].name_time);
    const std::string text = NameTimeText(newest);
    return text.empty() ? "未知" : text;
}

// What the device probably holds that no file has, told from the newest saved record and the time the
// page is written, as if it kept recording since: the count, and when the oldest of them is overwritten.
struct PendingCells {
    std::string count, overwritten;
};

PendingCells Pending(const DeviceArchive& device, int64_t now) {
    if (device.records.empty()) return {"—", "—"};
    if (!device.HasInterval())
        return {std::string(record_text::kUnknown) + std::string(record_text::kNoIntervalWhy), "—"};
    const ArchiveRecord& newest = device.records[device.newest];
    const int64_t local_now = now + int64_t{newest.offset} * 60;
    const std::optional<PendingRecords> pending =
        EstimatePending(newest.utc, now, kRingRecords, device.interval);
    if (!pending) return {"未知（最新记录晚于现在）", "—"};
    std::string count = "约 " + std::to_string(pending->records) + " 条";
    if (pending->lost > 0) count += "（约 " + std::to_string(pending->lost) + " 条已被覆盖）";
    if (pending->records == 0) return {count, "—"};
    if (pending->lost > 0) return {count, "正在被覆盖，请尽快下载"};
    return {count, "约 " + DateText(local_now + pending->seconds_left)};
}

std::string Verdict(const Archive& archive, const DeviceArchive& device) {
    return archive.Complete(device)
               ? "<span class=\"ok\">" + std::string(record_text::kComplete) + "</span>"
               : "<span class=\"bad\">" + std::string(record_text::kIncomplete) + "</span>";
}

struct Section {
    std::string html;
    std::string script;  // {p, axis, iv}
    std::string data;    // the plot's points as JSON, read by the script when it draws this section
};

Section MakeSection(const Archive& archive, const DeviceArchive& device, const std::string& p,
                    const ReportOptions& options) {
    const auto& records = device.records;
    const std::vector<size_t> order = ChronologicalRecords(device, std::nullopt, std::nullopt);
    const Series series = MakeSeries(device, order);
    Section out;
    std::string& page = out.html;
    auto id = [&](const char* name) { return " id=\"" + p + name + "\""; };

    page += "<table class=\"summary\"" + id("summary") + ">\n";
    page += Row({"记录文件夹", Html(archive.folder)});
    page += Row({"文件数", std::to_string(device.files.size())});
    page += Row({"有效行数", std::to_string(device.valid_lines)});
    page += Row({"记录数（去重）", std::to_string(records.size())});
    if (!records.empty()) {
        page += Row({"最早记录", RecordTimestamp(records[device.earliest])});
        page += Row({"最新记录", RecordTimestamp(records[device.newest])});
    }
    page += Row({"记录间隔", device.HasInterval() ? std::to_string(device.interval) + " 秒"
                                                  : "—" + std::string(record_text::kNoIntervalWhy)});
    page += Row({"缺口", std::to_string(device.gaps.size())});
    page += Row({"时钟回拨", std::to_string(device.jumps.size())});
    page += Row({"损坏行", std::to_string(device.DamagedLines())});
    page += Row({"冲突记录", std::to_string(device.conflicts.size())});
    page += Row({"无数值（nan、inf 或文字）", std::to_string(device.no_number.size())});
    page += Row({"无法读取", std::to_string(device.unreadable.size() + archive.folders.size())});
    page += Row({"结论", Verdict(archive, device)});
    page += "</table>\n";

    page += "<h3>运行速度曲线</h3>\n<div class=\"tools\"><button" + id("reset") +
            " type=\"button\">重置缩放</button><label>限值 <input" + id("limit") +
            " type=\"number\" step=\"any\" value=\"" + (options.limit ? NumberText(*options.limit) : "") +
            "\"></label> 拖动鼠标选择时间段可放大，双击也可复原。</div>\n<div" + id("plot") + "></div>\n";

    page += "<h3>所示时段的最高值</h3>\n<table" + id("top") +
            ">\n<tr><th>序号</th><th>时间</th><th>值</th></tr>\n</table>\n";
    page +=
        "<h3>超过限值的时段</h3>\n<table" + id("periods") +
        ">\n<tr><th>开始</th><th>结束</th><th>时长</th><th>最高值</th></tr>\n</table>\n<p class=\"more\"" +
        id("periods-note") + "></p>\n";

    const std::vector<DaySummary> days = SummariseDays(device, order);
    page +=
        "<h3>每日运行</h3>\n<table" + id("days") +
        ">\n<tr><th>日期</th><th>记录数</th><th>运行时间（值大于 0 的记录 × 间隔）</th><th>最高值</th><th>"
        "最高值时间</th></tr>\n";
    for (const DaySummary& day : days) {
        page += Row({day.date, std::to_string(day.records),
                     device.HasInterval() ? DurationText(day.running_seconds) : std::string("—"),
                     day.has_highest ? ValueText(device, day.highest_at) : "—",
                     day.has_highest ? RecordTimestamp(records[day.highest_at]) : "—"},
                    "day");
    }
    page += "</table>\n";

    page += "<h3>缺口</h3>\n<table" + id("gaps") +
            ">\n<tr><th>序号</th><th>开始</th><th>结束</th><th>缺少记录数</th></tr>\n";
    for (size_t i = 0; i < device.gaps.size() && i < kListedAtMost; ++i) {
        const ArchiveGap& gap = device.gaps[i];
        page += Row({std::to_string(i + 1), RecordTimestamp(records[gap.before]),
                     RecordTimestamp(records[gap.after]), std::to_string(gap.missing)},
                    "gap");
    }
    page += "</table>\n" + More(device.gaps.size());

    if (!device.jumps.empty()) {
        page += "<h3>时钟回拨</h3>\n<table" + id("jumps") +
                ">\n<tr><th>位置</th><th>之前</th><th>之后</th></tr>\n";
        for (size_t i = 0; i < device.jumps.size() && i < kListedAtMost; ++i) {
            const ClockJump& jump = device.jumps[i];
            page += Row({Where(archive, jump.where), RecordTimestamp(records[jump.before]),
                         RecordTimestamp(records[jump.after])});
        }
        page += "</table>\n" + More(device.jumps.size());
    }
    if (!device.damaged.empty()) {
        page += "<h3>损坏行</h3>\n<table" + id("damaged") + ">\n<tr><th>位置</th><th>原因</th></tr>\n";
        for (size_t i = 0; i < device.damaged.size() && i < kListedAtMost; ++i) {
            const DamagedLine& line = device.damaged[i];
            page += Row({Where(archive, line.where), Html(DamageReasonZh(line, device.product))});
        }
        page += "</table>\n" + More(device.damaged.size());
    }
    if (!device.no_number.empty()) {
        page += "<h3>无数值的记录（按原样保留）</h3>\n<table" + id("no-number") +
                ">\n<tr><th>位置</th><th>时间</th><th>值</th></tr>\n";
        for (size_t i = 0; i < device.no_number.size() && i < kListedAtMost; ++i) {
            const NoNumberLine& line = device.no_number[i];
            page += Row({Where(archive, line.where), RecordTimestamp(records[line.record]),
                         ValueText(device, line.record)},
                        "no-number");
        }
        page += "</table>\n" + More(device.no_number.size());
    }

    out.data = "<script type=\"application/json\" id=\"" + p + "data\">" + series.data + "</script>\n";
    // One offset: the axis names it; several: each tick where the offset changes names its own.
    const std::string axis = series.offsets > 1 ? "时间（记录时钟，UTC 偏移在变化处标出）"
                             : order.empty()    ? std::string("时间")
                                                : "时间 (UTC" + OffsetOnly(records[order.front()]) + ")";
    out.script =
        "{\"p\":\"" + p + "\",\"axis\":\"" + axis + "\",\"iv\":" + std::to_string(device.interval) + "}";
    return out;
}

std::string Head(const std::string& title) {
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>" + title + "</title>\n<style>\n";
    page += UplotStyle();
    page += '\n';
    page += PageStyle();
    page += ReportStyle();
    page += "</style>\n</head>\n<body>\n";
    return page;
}

// The points of every plot stand in JSON blocks of their own, parsed one section at a time as it is
// drawn: the first plot shows without waiting for the parse of all the others.
std::string Tail(const std::string& sections, const std::string& data) {
    std::string page = data + "<script>\n";
    page += InlineScript(UplotScript());
    page += "\n</script>\n<script>\n";
    // Draws the plots once the page is read, one section a task, so the first shows before the others
    // are built; sets data-drawn (points drawn, all plots) on <body> when the last plot is first drawn.
    std::string script = "\n" + std::string(ReportScript());
    script.replace(script.find("SECTIONS"), 8, "[" + sections + "]");
    page += InlineScript(script);
    page += "</script>\n</body>\n</html>\n";
    return page;
}

std::string Spelled(const DeviceArchive& device) { return Html(ProductSpelling(device)); }

}  // namespace

std::string HtmlText(std::string_view text) { return Html(text); }

std::string MakeReportPage(const Archive& archive, const DeviceArchive& device,
                           const ReportOptions& options) {
    const std::string spelled = Spelled(device);
    const Section section = MakeSection(archive, device, "", options);
    std::string page = Head("产品编号 " + spelled + " 运行速度记录报告");
    page += "<h1>产品编号 " + spelled + " 运行速度记录</h1>\n";
    page += section.html;
    page += Tail(section.script, section.data);
    return page;
}

std::string MakeOverviewPage(const Archive& archive, const ReportOptions& options) {
    std::string page = Head("运行速度记录总览");
    page += std::string("<h1>运行速度记录总览</h1>\n<p>") + (options.database ? "数据库：" : "记录文件夹：") +
            Html(archive.folder) + "，" + std::to_string(archive.devices.size()) + " 台设备，" +
            std::to_string(archive.files.size()) +
            " 个文件。待下载记录按生成本页的时间估计，假设设备一直在记录。</p>\n";
    page +=
        "<table id=\"overview\">\n<tr><th>产品编号</th><th>文件数</th><th>记录数</th><th>最早记录</th>"
        "<th>最新记录</th><th>完整性</th><th>缺口</th><th>最后下载</th><th>待下载（估计）</th>"
        "<th>最早待下载记录被覆盖</th><th>最高值</th></tr>\n";
    std::string sections, scripts, data;
    for (const DeviceArchive& device : archive.devices) {
        const std::string anchor = "product-" + std::to_string(device.product);
        const std::string p = "p" + std::to_string(device.product) + "-";
        const auto& records = device.records;
        const std::vector<size_t> order = ChronologicalRecords(device, std::nullopt, std::nullopt);
        const std::vector<size_t> highest = HighestRecords(device, order, 1);
        const PendingCells pending = Pending(device, options.now);
        page += Row({"<a href=\"#" + anchor + "\">" + Spelled(device) + "</a>",
                     std::to_string(device.files.size()), std::to_string(records.size()),
                     records.empty() ? "—" : RecordTimestamp(records[device.earliest]),
                     records.empty() ? "—" : RecordTimestamp(records[device.newest]),
                     Verdict(archive, device), std::to_string(device.gaps.size()),
                     LastDownload(archive, device), pending.count, pending.overwritten,
                     highest.empty() ? "—"
                                     : ValueText(device, highest.front()) + "（" +
                                           RecordTimestamp(records[highest.front()]) + "）"},
                    "device");
        const Section section = MakeSection(archive, device, p, options);
        sections += "<section id=\"" + anchor + "\">\n<h2>产品编号 " + Spelled(device) + "</h2>\n" +
                    section.html + "<p><a href=\"#overview\">回到总览</a></p>\n</section>\n";
        if (!scripts.empty()) scripts += ",\n";
        scripts += section.script;
        data += section.data;
    }
    page += "</table>\n" + sections;
    page += Tail(scripts, data);
    return page;
}

}  // namespace korvel
