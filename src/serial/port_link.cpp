// SPDX-License-Identifier: MIT
#include "serial/serial_link.h"
#include "ui/korvel_dlg.h"

namespace korvel {

SerialLink::SerialLink(PortOpener opener) : m_opener(std::move(opener)) {}
SerialLink::~SerialLink() = default;
bool SerialLink::CreateEvents() { return false; }
void SerialLink::ReleaseEvents() {}

void CKorvelDlg::OpenPort() {}
void CKorvelDlg::ClosePort() {}
void CKorvelDlg::WritePort(const uint8_t*, size_t) {}
void CKorvelDlg::OnPortLost() {}

}  // namespace korvel
