// SPDX-License-Identifier: MIT
// The link's events on this OS: the manual-reset events of the read and the write record.
#include <windows.h>

#include "serial/serial_link.h"

namespace korvel {

bool SerialLink::CreateEvents() {
    if (EventsHeld()) return true;
    const HANDLE read_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!read_event) return false;
    const HANDLE write_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!write_event) {
        CloseHandle(read_event);
        return false;
    }
    m_events[0] = reinterpret_cast<intptr_t>(read_event);
    m_events[1] = reinterpret_cast<intptr_t>(write_event);
    return true;
}

void SerialLink::ReleaseEvents() {
    if (!EventsHeld()) return;
    CloseHandle(reinterpret_cast<HANDLE>(m_events[0]));
    CloseHandle(reinterpret_cast<HANDLE>(m_events[1]));
    m_events[0] = m_events[1] = kNoEvent;
}

}  // namespace korvel
