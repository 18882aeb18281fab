// SPDX-License-Identifier: MIT
#include "serial/serial_link.h"

namespace korvel {

SerialLink::SerialLink(PortOpener opener) : m_opener(std::move(opener)) { CreateEvents(); }

SerialLink::~SerialLink() {
    if (m_hPort) m_hPort->Close();
    ReleaseEvents();
}

}  // namespace korvel
