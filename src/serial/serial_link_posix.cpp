// SPDX-License-Identifier: MIT
// The link's events on this OS: one eventfd.
#include <sys/eventfd.h>
#include <unistd.h>

#include "serial/serial_link.h"

namespace korvel {

bool SerialLink::CreateEvents() {
    if (m_eventFd >= 0) return true;
    m_eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    return m_eventFd >= 0;
}

void SerialLink::ReleaseEvents() {
    if (m_eventFd < 0) return;
    ::close(m_eventFd);
    m_eventFd = -1;
}

}  // namespace korvel
