// SPDX-License-Identifier: MIT
// The link's events on this OS: one eventfd.
#include <sys/eventfd.h>
#include <unistd.h>

#include "serial/serial_link.h"

namespace korvel {

bool SerialLink::CreateEvents() {
    if (EventsHeld()) return true;
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return false;
    m_events[0] = fd;
    return true;
}

void SerialLink::ReleaseEvents() {
    if (!EventsHeld()) return;
    ::close(static_cast<int>(m_events[0]));
    m_events[0] = kNoEvent;
}

}  // namespace korvel
