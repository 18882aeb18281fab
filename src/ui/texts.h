// SPDX-License-Identifier: MIT
// Every text the tool shows, exactly as the operator sees it.
#pragma once

#include <string_view>

namespace korvel::text {

inline constexpr std::u16string_view kTitleFormat = u"绞车运行速度记录仪读取程序 %s %s";
inline constexpr std::u16string_view kVersion = u"2.0-8-gc788d8a";
inline constexpr std::u16string_view kBuildDate = u"2022-07-30";
inline constexpr std::u16string_view kTitle = u"绞车运行速度记录仪读取程序 2.0-8-gc788d8a 2022-07-30";

// Buttons and labels of the dialog.
inline constexpr std::u16string_view kClose = u"关闭";
inline constexpr std::u16string_view kCancel = u"Cancel";
inline constexpr std::u16string_view kReadInfo = u"读信息";
inline constexpr std::u16string_view kSyncTime = u"同步时间";
inline constexpr std::u16string_view kReadData = u"读数据";
inline constexpr std::u16string_view kStopReadData = u"终止读数据";
inline constexpr std::u16string_view kLabelPort = u"端口";
inline constexpr std::u16string_view kLabelStatus = u"状态";
inline constexpr std::u16string_view kLabelSent = u"发送";
inline constexpr std::u16string_view kLabelReceived = u"接收";
inline constexpr std::u16string_view kLabelRate = u"速率";
inline constexpr std::u16string_view kLabelProductNo = u"产品编号:";
inline constexpr std::u16string_view kLabelFirmware = u"固件信息:";
inline constexpr std::u16string_view kLabelRecordCount = u"记录数量:";
inline constexpr std::u16string_view kLabelDeviceTime = u"设备时间:";
inline constexpr std::u16string_view kLabelPcTime = u"电脑时间:";

// Status texts.
inline constexpr std::u16string_view kPortOpen = u"已打开";
inline constexpr std::u16string_view kPortClosed = u"已关闭";
inline constexpr std::u16string_view kNoReply = u"无回应";
inline constexpr std::u16string_view kCancelled = u"已取消";
inline constexpr std::u16string_view kDownloadCutByPort = u"端口已断开，读数据中止，未保存任何记录";
inline constexpr std::u16string_view kRecordCountFormat = u"%u (%.1f小时)";
inline constexpr std::u16string_view kProgressFormat = u"%.01f%%";
inline constexpr std::u16string_view kDownloadDoneFormat = u"读取完成，耗时%u秒";
inline constexpr std::u16string_view kSaveFailedPrefix = u"保存失败：";
inline constexpr std::u16string_view kNotRecordedPrefix = u"已保存，但未记入下载台账：";
inline constexpr std::u16string_view kSkippedRecordsFormat = u"跳过%u条校验错误的记录";
inline constexpr std::u16string_view kCountersFormat = u"%u(%u)";

// The only message boxes.
inline constexpr std::u16string_view kInfoCreateFalse = u"InfoCreate false!";
inline constexpr std::u16string_view kOpenFileError = u"Open file error ";

// The three record items of the window's menu (the Win32 system menu, the Qt context menu), the check's
// text window and what the items tell when they cannot do their work.
inline constexpr std::u16string_view kMenuOpenFolder = u"打开记录文件夹";
inline constexpr std::u16string_view kMenuCheckRecords = u"检查记录…";
inline constexpr std::u16string_view kMenuSpeedReport = u"运行速度报告…";
inline constexpr std::u16string_view kMenuGuide = u"操作指南";
inline constexpr std::u16string_view kCheckTitle = u"检查记录";
inline constexpr std::u16string_view kCheckCopy = u"复制";
inline constexpr std::u16string_view kCheckRunning = u"正在检查记录文件夹中的记录文件……";
inline constexpr std::u16string_view kNoRecordFolder = u"记录文件夹不存在：";
inline constexpr std::u16string_view kNoRecordFolderHint = u"。请先用“读数据”下载记录，文件夹会随之建立。";
inline constexpr std::u16string_view kNoRecordFiles = u"记录文件夹中没有记录文件：";
inline constexpr std::u16string_view kNoRecordFilesHint = u"。请先用“读数据”下载记录。";
inline constexpr std::u16string_view kOpenFolderFailed = u"无法打开记录文件夹。请在文件管理器中自行打开：";
inline constexpr std::u16string_view kReportWriteFailed = u"无法写出运行速度报告。请检查临时文件夹能否写入。";
inline constexpr std::u16string_view kReportOpenFailed =
    u"运行速度报告已写出，但无法在浏览器中打开。请在浏览器中自行打开：";
inline constexpr std::u16string_view kGuideWriteFailed = u"无法写出操作指南。请检查临时文件夹能否写入。";
inline constexpr std::u16string_view kGuideOpenFailed =
    u"操作指南已写出，但无法在浏览器中打开。请在浏览器中自行打开：";
// Before the system's own words (often English), which follow on a paragraph of their own.
inline constexpr std::u16string_view kSystemReason = u"系统的说明（原文）：";
inline constexpr std::u16string_view kPendingFormat = u"约 %lld 条记录尚未下载";
inline constexpr std::u16string_view kPendingOverwriteFormat = u"，其中最早的一条约于 %s 被覆盖";
inline constexpr std::u16string_view kPendingLostFormat = u"；约 %lld 条在下载前已被覆盖，请尽快下载";
inline constexpr std::u16string_view kPendingUnknown =
    u"尚未下载的记录数未知：设备时钟早于最新保存的记录，请用“同步时间”校准";
inline constexpr std::u16string_view kPendingNoInterval =
    u"尚未下载的记录数未知：记录文件夹中该设备的记录太少，还看不出记录间隔；再用“读数据”下载一次即可";

// The daily collection (Windows): the scheduled task's description, the lines of its log beside the
// records, what 检查记录… adds about the last run, and korvel.exe's own command line.
inline constexpr std::u16string_view kDailyTaskDescription =
    u"每天 %s 从 %s "
    u"上的记录仪下载新记录到操作员的记录文件夹；电脑当时关机或操作员未登录时，在下次可以运行时补做。"
    u"每次的结果写在记录文件夹中的 %s。";
inline constexpr std::u16string_view kDailyLogStartFormat = u"%s 每日下载开始：端口 %s，记录文件夹 %s";
inline constexpr std::u16string_view kDailyLogDoneFormat = u"%s 每日下载完成";
inline constexpr std::u16string_view kDailyLogFailedFormat = u"%s 每日下载未完成（退出码 %d），原因见上一行";
inline constexpr std::u16string_view kDailyLogBadPortFormat =
    u"%s 每日下载未能开始：“%s”不是 COM 端口名，应为 COM3 这样的名字";
inline constexpr std::u16string_view kDailyLogNotStartedFormat = u"%s 每日下载未能开始：无法启动 %s：%s";
inline constexpr std::u16string_view kCheckDailyFormat = u"每日自动下载（%s）最近一次：%s";
inline constexpr std::u16string_view kWinUsageFormat =
    u"未知的参数：%s\n\nkorvel.exe 的参数：\n"
    u"  --overview    写出记录文件夹中全部设备的运行记录总览，并在浏览器中打开\n"
    u"  --daily COM3  从 COM3 下载新记录到记录文件夹（每日计划任务用，不显示窗口），结果写在 "
    u"korvel-daily.log";

// The hidden mode list holds this single item.
inline constexpr std::u16string_view kModeBlackBox = u"black_box";

// Failure texts of the UTF-8 conversions.
inline constexpr std::string_view kWideToUtf8Failure = "ConvertUnicodeToUTF8 failure";
inline constexpr std::u16string_view kUtf8ToWideFailure = u"Convert UTF8 to Unicode failure";

// Settings: section and keys of the three remembered integers.
inline constexpr std::string_view kSettingsSection = "Settings";
inline constexpr std::string_view kKeyPortIndex = "PortIndex";
inline constexpr std::string_view kKeyMode = "Mode";
inline constexpr std::string_view kKeyBaud = "Baud";

// Every message the window can show (status line, message boxes, the record items, the record count's
// tooltip): the operator's guide (docs/korvel-guide.html) says what each means and what to do; a test
// checks that each, apart from its %-fields, appears there.
inline constexpr std::u16string_view kMessages[] = {
    kPortOpen,          kPortClosed,         kNoReply,
    kCancelled,         kDownloadCutByPort,  kDownloadDoneFormat,
    kSaveFailedPrefix,  kNotRecordedPrefix,  kSkippedRecordsFormat,
    kInfoCreateFalse,   kOpenFileError,      kCheckRunning,
    kNoRecordFolder,    kNoRecordFolderHint, kNoRecordFiles,
    kNoRecordFilesHint, kOpenFolderFailed,   kReportWriteFailed,
    kReportOpenFailed,  kGuideWriteFailed,   kGuideOpenFailed,
    kSystemReason,      kPendingFormat,      kPendingOverwriteFormat,
    kPendingLostFormat, kPendingUnknown,     kPendingNoInterval,
    kCheckDailyFormat,
};

}  // namespace korvel::text
