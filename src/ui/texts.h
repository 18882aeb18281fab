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
inline constexpr std::u16string_view kRecordCountFormat = u"%u (%.1f小时)";
inline constexpr std::u16string_view kProgressFormat = u"%.01f%%";
inline constexpr std::u16string_view kDownloadDoneFormat = u"读取完成，耗时%u秒";
inline constexpr std::u16string_view kSaveFailedPrefix = u"保存失败：";
inline constexpr std::u16string_view kSkippedRecordsFormat = u"跳过%u条校验错误的记录";
inline constexpr std::u16string_view kCountersFormat = u"%u(%u)";

// The only message boxes.
inline constexpr std::u16string_view kInfoCreateFalse = u"InfoCreate false!";
inline constexpr std::u16string_view kOpenFileError = u"Open file error ";

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

}  // namespace korvel::text
