// SPDX-License-Identifier: MIT
#include "serial/serial_link.h"

#include "serial/pending_open.h"

namespace korvel {

SerialLink::SerialLink(PortOpener opener) : m_opener(std::move(opener)) { CreateEvents(); }

SerialLink::~SerialLink() {
    AbandonOpen();
    if (m_hPort) m_hPort->Close();
    ReleaseEvents();
}

void SerialLink::AbandonOpen() {
    if (!m_pendingOpen) return;
    m_pendingOpen->Abandon();
    m_pendingOpen.reset();
}

}  // namespace korvel
