// SPDX-License-Identifier: MIT
// The dialog engine on a test bench: the remembering window, a clock that stands still, a port list the
// test sets and fake ports behind the serial link.
#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "serial/serial_link.h"
#include "support/fake_port.h"
#include "ui/controls.h"
#include "ui/korvel_dlg.h"
#include "ui/memory_window.h"

namespace korvel::testing {

struct DialogRig {
    DialogRig();
    ~DialogRig();

    MemoryWindow window;
    FixedClock clock;
    FakePortList ports;
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    SerialLink link{FakeOpener(device)};
    CKorvelDlg dlg{window, link, clock, ports};

    // Initialises the dialog; record files go to a private temporary folder instead of the user's.
    void Init();
    // Each reply line as the framing delivers it (no CR, no LF).
    void Reply(std::initializer_list<std::u16string_view> lines);
    intptr_t Send(const Message& m, bool* handled = nullptr) { return dlg.Dispatch(m, handled); }
    void Tick() { dlg.Dispatch(Message{Msg::Timer}); }
    void Click(int id) { dlg.Dispatch(Message{Msg::Command, id, Notify::Clicked}); }
    void Pick(int combo, int index);  // the operator selects an item
    void SetProfile(std::string_view key, int value);
    int Profile(std::string_view key);  // -9999 when never written
    const std::u16string& Text(int id) const { return window.Text(id); }

  private:
    std::string upload_dir_;
};

}  // namespace korvel::testing
