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
    const std::lock_guard<std::mutex> lock(m_pendingOpen->mutex);
    m_pendingOpen->abandoned = true;
    m_pendingOpen.reset();
}

}  // namespace korvel
