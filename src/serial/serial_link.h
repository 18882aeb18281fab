// SPDX-License-Identifier: MIT
// The process-wide record of the serial port, constructed before the dialog and living until exit.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "serial/port.h"

namespace korvel {

class PendingOpen;

class SerialLink {
  public:
    // Creates the wake-up descriptor pair ("the events"); reports failure through EventsHeld().
    explicit SerialLink(PortOpener opener = OpenSerialPort);
    ~SerialLink();
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The events of the link: held at most once, never released twice. Each opened port has its own
    // wake-up descriptor besides, so that no reader can ever be woken by or wait on a later port's.
    bool CreateEvents();
    void ReleaseEvents();
    bool EventsHeld() const { return m_events[0] != kNoEvent; }

    uint32_t m_nBaud = 0;
    std::string m_strPath;          // on this OS a port's name is its device path
    std::unique_ptr<Port> m_hPort;  // meaningful only while m_bOpen is 1
    int m_bOpen = 0;
    UiPost m_hNotifyWnd;  // where received chunks are handed over
    PortOpener m_opener;
    Failure m_lastFailure;  // why the last attempt failed, for front ends
    // DTR stays low this long when a port is reopened (devices may rely on it); tests set it to 0. An
    // open in the background waits it on its own thread, so the window goes on meanwhile.
    std::chrono::milliseconds m_reopenPause{500};
    // The windows open ports on a thread of their own, so an open that blocks in the driver (a Bluetooth
    // port whose device is off) never blocks the user-interface thread: OpenPort waits at most
    // m_openWait for the result and takes it up at once when it came (an ordinary port opens within a
    // few milliseconds, so the tick that started the open shows its state); a later result is taken up
    // when it is posted back. Otherwise (the command line, most tests) OpenPort opens in place.
    bool m_bOpenInBackground = false;
    std::chrono::milliseconds m_openWait{100};
    // The open under way in the background, if any; abandoned when the port is closed or the link ends,
    // after which its thread closes whatever it opened and touches nothing else.
    std::shared_ptr<PendingOpen> m_pendingOpen;
    bool Opening() const { return m_pendingOpen != nullptr; }
    void AbandonOpen();

  private:
    static constexpr intptr_t kNoEvent = -1;
    // POSIX: one eventfd in [0]; Windows: the read and the write event handle.
    intptr_t m_events[2] = {kNoEvent, kNoEvent};
};

}  // namespace korvel
