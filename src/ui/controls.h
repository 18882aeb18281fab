// SPDX-License-Identifier: MIT
#pragma once

namespace korvel {

// Control identifiers of dialog template 102. The framework's OK and Cancel keep their values 1 and 2.
enum ControlId : int {
    kWindowTitle = 0,  // "the window itself": setting its text sets the title
    IDOK = 1,          // "关闭", the default button
    IDCANCEL = 2,      // hidden "Cancel": Escape
    IDC_PORT = 1001,
    IDC_MODE = 1002,
    IDC_TX_BYTES = 1003,
    IDC_BAUD = 1006,
    IDC_PORT_STATUS = 1007,
    IDC_MESSAGE = 1011,
    IDC_READ_DATA = 1012,
    IDC_READ_INFO = 1013,
    IDC_PRODUCT_NO = 1014,
    IDC_FIRMWARE = 1015,
    IDC_RECORD_COUNT = 1016,
    IDC_RESULT = 1017,
    IDC_LAST_COMMAND = 1018,
    IDC_RX_BYTES = 1019,
    IDC_SYNC_TIME = 1020,
    IDC_DEVICE_TIME = 1021,
    IDC_PC_TIME = 1022,
    IDC_PROGRESS = 1023,
    IDC_STATIC = -1,
};

constexpr int kDialogTemplateId = 102;
constexpr int kIconGroupId = 128;
constexpr int kTimerId = 1;
constexpr int kTimerPeriodMs = 1000;

}  // namespace korvel
