// SPDX-License-Identifier: MIT
// The texts of the saved records as the operator reads them, in Chinese: the check window (检查记录…) and
// the report page's damage reasons and verdicts. The window's own texts are in ui/texts.h; korvel-cli
// keeps its English sentences (records/record_line.h, records/archive_text.h), which scripts read.
#pragma once

#include <string_view>

namespace korvel::record_text {

// Why a line is damaged, by LineDamage (records/record_line.h), from kEmpty on; kOtherProduct has its
// own sentence below.
inline constexpr std::string_view kDamage[] = {
    "空行",
    "过长，不是记录行",
    "行尾有回车符（记录行只以换行符结尾）",
    "行尾没有校验码",
    "校验码不是四位十六进制数字",
    "校验码不符",
    "不是“日期 时间+时区 数值 产品编号”形式的记录行",
    "字段多于日期、时间、数值和产品编号",
};
inline constexpr std::string_view kOtherProductBefore = "产品编号 ";
inline constexpr std::string_view kOtherProductAfter = " 与文件名的产品编号不符：";

// Verdicts, and what makes one incomplete ("1 个缺口，2 行损坏").
inline constexpr std::string_view kComplete = "完整";
inline constexpr std::string_view kIncomplete = "不完整";
inline constexpr std::string_view kIncompleteGaps = "个缺口";
inline constexpr std::string_view kIncompleteJumps = "次时钟回拨";
inline constexpr std::string_view kIncompleteDamaged = "行损坏";
inline constexpr std::string_view kIncompleteConflicts = "条冲突记录";
inline constexpr std::string_view kIncompleteUnreadable = "个文件无法读取";
inline constexpr std::string_view kDevicesIncomplete = "台有缺口、时钟回拨或损坏";

// A device whose saved records show no usual interval (one record): nothing is told from one.
inline constexpr std::string_view kNoIntervalWhy = "（还看不出记录间隔）";
inline constexpr std::string_view kUnknown = "未知";

// The check window, a device at a time, its verdict first.
inline constexpr std::string_view kFolder = "记录文件夹：";
inline constexpr std::string_view kDatabase = "数据库：";
inline constexpr std::string_view kUnreadable = "无法读取：";
inline constexpr std::string_view kArchiveComplete = "全部记录完整";
inline constexpr std::string_view kArchiveIncomplete = "记录不完整";
inline constexpr std::string_view kProduct = "产品编号 ";
inline constexpr std::string_view kFiles = "文件 ";
inline constexpr std::string_view kValidLines = "有效行 ";
inline constexpr std::string_view kRecords = "记录 ";
inline constexpr std::string_view kFirst = "最早记录：";
inline constexpr std::string_view kLast = "最新记录：";
inline constexpr std::string_view kInterval = "记录间隔：";
inline constexpr std::string_view kNoInterval = "记录间隔：还看不出（记录太少）";
inline constexpr std::string_view kPending = "待下载：";
inline constexpr std::string_view kPendingCount = " 条尚未下载";             // after "约 N"
inline constexpr std::string_view kPendingLost = " 条已被覆盖，请尽快下载";  // after "约 N"
inline constexpr std::string_view kPendingOverwritten = "最早的一条约于 ";   // then the date
inline constexpr std::string_view kPendingOverwrittenAfter = " 被覆盖";
inline constexpr std::string_view kPendingNoRecord = "待下载：未知（没有记录）";
inline constexpr std::string_view kPendingLater = "待下载：未知（最新记录晚于本机时钟）";
inline constexpr std::string_view kGaps = "缺口 ";
inline constexpr std::string_view kGapTo = " 至";
inline constexpr std::string_view kMissing = "缺少 ";
inline constexpr std::string_view kJumps = "时钟回拨 ";
inline constexpr std::string_view kJumpAfter = "之后是 ";
inline constexpr std::string_view kConflicts = "冲突记录 ";
inline constexpr std::string_view kConflictHold = "两个文件的记录不同：";
inline constexpr std::string_view kDamaged = "损坏行 ";
inline constexpr std::string_view kMoreDamaged = "另有损坏行未列出：";
inline constexpr std::string_view kNoNumber = "无数值的记录（nan、inf 或文字，按原样保留）";
inline constexpr std::string_view kMoreNoNumber = "另有未列出：";

// The ledger of downloads, one line: "下载台账：12 个文件已证实（其中 2 个为补记），1 个被改动，0 个缺失，1
// 个未记入； 台账链完整".
inline constexpr std::string_view kLedger = "下载台账：";
inline constexpr std::string_view kLedgerProven = " 个文件已证实";
inline constexpr std::string_view kLedgerAdopted = "（其中 %s 个为补记）";
inline constexpr std::string_view kLedgerChanged = " 个被改动";
inline constexpr std::string_view kLedgerMissing = " 个缺失";
inline constexpr std::string_view kLedgerUnrecorded = " 个未记入";
inline constexpr std::string_view kLedgerUnreadable = " 个无法读取";
inline constexpr std::string_view kLedgerChainIntact = "台账链完整";
inline constexpr std::string_view kLedgerChainBroken = "台账链在第 %s 行断开";

}  // namespace korvel::record_text
