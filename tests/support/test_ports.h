// SPDX-License-Identifier: MIT
// The ports the dialog's tests list, as this system names them: a list entry (what the combo box shows)
// and the device path the open receives. Written out per system (test_ports_posix.cpp,
// test_ports_win.cpp), never derived by the code under test.
#pragma once

#include <string>

namespace korvel::testing {

struct TestPort {
    std::u16string name;
    std::string path;
};

// A built-in port, two adapters and a modem-class adapter.
extern const TestPort kBuiltInPort, kAdapter0, kAdapter1, kAdapter2, kModemPort;

}  // namespace korvel::testing
