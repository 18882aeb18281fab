// SPDX-License-Identifier: MIT
#include "ui/korvel_dlg.h"

namespace korvel {

intptr_t CKorvelDlg::OnSerialData(const uint8_t*, int) { return 0; }
void CKorvelDlg::OnDeviceMessage(std::u16string) {}
void CKorvelDlg::SendCommand() {}
void CKorvelDlg::OnReplyLine(std::u16string) {}
bool CKorvelDlg::ParseReplyBody() { return true; }
void CKorvelDlg::TickReplyTimeout() {}
std::u16string CKorvelDlg::FormatRequestLine() const { return {}; }

}  // namespace korvel
