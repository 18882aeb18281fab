// SPDX-License-Identifier: MIT
#include "ui/korvel_dlg.h"

namespace korvel {

void CKorvelDlg::OnReadInfo() {}
bool CKorvelDlg::StoreDeviceInfo(int, const std::u16string*) { return true; }
void CKorvelDlg::ShowDeviceInfo() {}
void CKorvelDlg::ResetDeviceInfo() {}
void CKorvelDlg::OnSyncTime() {}
void CKorvelDlg::FormatUtcOffset() {}

}  // namespace korvel
