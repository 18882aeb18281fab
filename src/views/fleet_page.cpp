// SPDX-License-Identifier: MIT
#include "views/fleet_page.h"

#include <algorithm>

#include "archive/archive.h"
#include "protocol/record_index.h"
#include "text/civil_time.h"
#include "views/page_assets.h"
#include "views/report_page.h"

namespace korvel {
namespace {

// The ring keeps 32,767 records; the oldest not downloaded goes when that many newer are taken.

std::string UtcCell(int64_t utc) { return ClockText(utc) + " UTC"; }

// A cell with the value its column sorts by.
std::string Cell(const std::string& text, const std::string& sort) {
    return "<td data-sort=\"" + HtmlText(sort) + "\">" + text + "</td>";
}
std::string Cell(const std::string& text, int64_t sort) { return Cell(text, std::to_string(sort)); }

}  // namespace

FleetStatus AssessFleetDevice(const FleetDevice& device, int64_t now, int due_days) {
    FleetStatus row{device};
    row.complete = device.gaps == 0 && device.damaged == 0 && device.records > 0;
    // Without a usual interval (a single record) nothing can be estimated from one.
    if (device.records == 0 || device.interval <= 0) return row;
    row.estimated = true;
    // A newest record later than this computer's clock: none is taken since, as far as can tell.
    const int64_t at = std::max(now, device.last_utc);
    if (const std::optional<PendingRecords> pending =
            EstimatePending(device.last_utc, at, kRingRecords, device.interval)) {
        row.pending = pending->records;
        row.lost = pending->lost;
        row.overwritten = at + pending->seconds_left;
    }
    row.days_left = static_cast<double>(row.overwritten - now) / 86400.0;
    row.due = row.days_left <= due_days;
    return row;
}

std::string MakeFleetPage(const std::vector<FleetStatus>& rows, const FleetPageOptions& options) {
    size_t due = 0, incomplete = 0;
    for (const FleetStatus& row : rows) {
        due += row.due ? 1 : 0;
        incomplete += row.complete ? 0 : 1;
    }
    const std::string days = std::to_string(options.due_days);
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n";
    page += "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n";
    page += "<title>记录仪总览</title>\n<style>\n";
    page += PageStyle();
    page += FleetStyle();
    page += "</style>\n</head>\n<body>\n<h1>记录仪总览</h1>\n";
    page += "<p>数据库：" + HtmlText(options.database) + "，" + std::to_string(rows.size()) +
            " 台记录仪，其中 " + std::to_string(due) + " 台 " + days + " 天内到期，" +
            std::to_string(incomplete) + " 台不完整。生成于 " + UtcCell(options.now) +
            "；待下载记录按此时间估计，假设记录仪一直在记录。“需处理”的行：最早的待下载记录将在 " + days +
            " 天内被覆盖（或已在被覆盖），或数据库中的记录有缺口或损坏行。点击列标题可排序。</p>\n";
    page +=
        "<table id=\"fleet\">\n<thead><tr><th>产品编号</th><th>状态</th><th>记录数</th><th>最早记录</th>"
        "<th>最新记录</th><th>最后导入</th><th>导入计算机</th><th>待下载（估计）</th>"
        "<th>最早待下载记录被覆盖</th><th>完整性</th><th>缺口</th><th>缺少记录数</th><th>损坏行</th></tr>"
        "</thead>\n<tbody>\n";
    for (const FleetStatus& row : rows) {
        const FleetDevice& d = row.device;
        std::vector<std::string> reasons;
        // Records are lost already once more were taken since than the ring holds.
        const bool overwriting = row.lost > 0 || row.overwritten <= options.now;
        if (row.due) reasons.push_back(overwriting ? "正在被覆盖" : days + " 天内到期");
        if (!row.complete) reasons.push_back("不完整");
        std::string state = "正常";
        if (!reasons.empty()) {
            state = "需处理：" + reasons[0];
            for (size_t i = 1; i < reasons.size(); ++i) state += "、" + reasons[i];
        }
        std::string pending = "约 " + std::to_string(row.pending) + " 条";
        if (row.lost > 0) pending += "（另有约 " + std::to_string(row.lost) + " 条已被覆盖）";
        if (!row.estimated) pending = "未知：没有有效记录";
        const int attention = reasons.empty() ? 0 : 1;
        page += attention ? "<tr class=\"attention\">" : "<tr>";
        page += Cell(std::to_string(d.product), d.product);
        page += "<td class=\"state\" data-sort=\"" + std::to_string(attention) + "\">" + state + "</td>";
        page += Cell(std::to_string(d.records), d.records);
        page += d.records ? Cell(UtcCell(d.first_utc), d.first_utc) : Cell("—", "");
        page += d.records ? Cell(UtcCell(d.last_utc), d.last_utc) : Cell("—", "");
        page += d.ingested_utc ? Cell(UtcCell(*d.ingested_utc), *d.ingested_utc) : Cell("从未", "");
        page += Cell(HtmlText(d.ingested_host), d.ingested_host);
        page += Cell(pending, row.pending + row.lost);
        if (!row.estimated) {
            page += Cell("—", "");
        } else {
            page += Cell(overwriting ? "正在被覆盖，请尽快下载" : UtcCell(row.overwritten), row.overwritten);
        }
        page += Cell(row.complete ? "完整" : "不完整", row.complete ? 1 : 0);
        page += Cell(std::to_string(d.gaps), d.gaps);
        page += Cell(std::to_string(d.missing), d.missing);
        page += Cell(std::to_string(d.damaged), d.damaged);
        page += "</tr>\n";
    }
    // A click on a column's head sorts the rows by it, a second click the other way round.
    page += "</tbody>\n</table>\n<script>\n";
    page += FleetScript();
    page += "</script>\n</body>\n</html>\n";
    return page;
}

}  // namespace korvel
