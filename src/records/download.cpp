// SPDX-License-Identifier: MIT
#include "ui/korvel_dlg.h"

namespace korvel {

void CKorvelDlg::OnReadData() {}
bool CKorvelDlg::StoreRecord(int, const std::u16string*) { return true; }
void CKorvelDlg::AdvanceDownload() {}
void CKorvelDlg::FinishDownload() {}
void CKorvelDlg::ScanSavedFiles(const std::u16string&, int) {}

}  // namespace korvel
