// SPDX-License-Identifier: MIT
#include "ui/dialog_template.h"

#include "ui/controls.h"
#include "ui/texts.h"

namespace korvel {
namespace {

using K = ControlKind;
constexpr unsigned kLabel = kAlignRight;
constexpr unsigned kField = kAlignCenter | kBorder;

constexpr ControlTemplate kControls[] = {
    {IDC_PORT, K::ComboBox, u"", 283, 7, 69, 121, kVScroll, true, true},
    {IDC_SYNC_TIME, K::PushButton, text::kSyncTime, 162, 42, 69, 14, kStyleNone, false, true},
    {IDC_READ_INFO, K::PushButton, text::kReadInfo, 162, 7, 69, 14, kStyleNone, false, true},
    {IDC_READ_DATA, K::PushButton, text::kReadData, 162, 64, 69, 14, kStyleNone, false, true},
    {IDOK, K::DefaultPushButton, text::kClose, 283, 121, 69, 14, kStyleNone, true, true},
    {IDCANCEL, K::PushButton, text::kCancel, 305, 98, 47, 12, kStyleNone, false, true},
    {IDC_MODE, K::ComboBox, u"", 286, 103, 44, 116, kVScroll, false, false},
    {IDC_STATIC, K::Static, text::kLabelPort, 233, 9, 45, 8, kLabel, true, true},
    {IDC_TX_BYTES, K::Static, u"", 283, 55, 69, 12, kField, true, true},
    {IDC_BAUD, K::ComboBox, u"", 283, 23, 69, 93, kVScroll, true, true},
    {IDC_PORT_STATUS, K::Static, u"", 283, 39, 69, 12, kField, true, true},
    {IDC_STATIC, K::Static, text::kLabelStatus, 233, 41, 45, 8, kLabel, true, true},
    {IDC_STATIC, K::Static, text::kLabelSent, 233, 57, 45, 8, kLabel, true, true},
    {IDC_MESSAGE, K::Static, u"", 7, 103, 345, 8, kAlignLeft | kNoWrapEllipsis, true, true},
    {IDC_PRODUCT_NO, K::Static, u"", 71, 7, 82, 8, kAlignLeft, true, true},
    {IDC_FIRMWARE, K::Static, u"", 71, 22, 161, 8, kAlignLeft, true, true},
    {IDC_STATIC, K::Static, text::kLabelProductNo, 7, 7, 57, 8, kLabel, true, true},
    {IDC_STATIC, K::Static, text::kLabelFirmware, 7, 22, 57, 8, kLabel, true, true},
    {IDC_STATIC, K::Static, text::kLabelRecordCount, 7, 67, 57, 8, kLabel, true, true},
    {IDC_RECORD_COUNT, K::Static, u"", 71, 67, 84, 8, kAlignLeft, true, true},
    {IDC_RESULT, K::Static, u"", 7, 127, 251, 8, kAlignLeft, true, true},
    {IDC_LAST_COMMAND, K::Static, u"", 7, 115, 251, 8, kAlignLeft | kNoWrapEllipsis, true, false},
    {IDC_STATIC, K::Static, text::kLabelReceived, 233, 73, 45, 8, kLabel, true, true},
    {IDC_RX_BYTES, K::Static, u"", 283, 71, 69, 12, kField, true, true},
    {IDC_STATIC, K::Static, text::kLabelDeviceTime, 7, 37, 57, 8, kLabel, true, true},
    {IDC_STATIC, K::Static, text::kLabelPcTime, 7, 52, 57, 8, kLabel, true, true},
    {IDC_DEVICE_TIME, K::Static, u"", 71, 37, 84, 8, kAlignLeft, true, true},
    {IDC_PC_TIME, K::Static, u"", 71, 52, 84, 8, kAlignLeft, true, true},
    {IDC_PROGRESS, K::ProgressBar, u"", 7, 90, 345, 6, kSmooth | kBorder, true, true},
    {IDC_STATIC, K::Static, text::kLabelRate, 233, 25, 45, 8, kLabel, true, true},
};
static_assert(std::size(kControls) == 30);

constexpr DialogTemplate kMainDialog = {359, 142, 8, kControls};

}  // namespace

const DialogTemplate& MainDialogTemplate() { return kMainDialog; }

}  // namespace korvel
