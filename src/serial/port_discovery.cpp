// SPDX-License-Identifier: MIT
#include "ui/korvel_dlg.h"

namespace korvel {

bool CKorvelDlg::RefreshPortList() { return false; }
void CKorvelDlg::FillPortCombo() {}
intptr_t CKorvelDlg::OnDeviceChange(uintptr_t, intptr_t) { return 0; }
void CKorvelDlg::OnSelChangePort() {}
void CKorvelDlg::OnSelChangeBaud() {}

}  // namespace korvel
