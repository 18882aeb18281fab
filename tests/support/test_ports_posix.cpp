// SPDX-License-Identifier: MIT
#include "support/test_ports.h"

namespace korvel::testing {

const TestPort kBuiltInPort{u"/dev/ttyS2", "/dev/ttyS2"};
const TestPort kAdapter0{u"/dev/ttyUSB0", "/dev/ttyUSB0"};
const TestPort kAdapter1{u"/dev/ttyUSB1", "/dev/ttyUSB1"};
const TestPort kAdapter2{u"/dev/ttyUSB2", "/dev/ttyUSB2"};
const TestPort kModemPort{u"/dev/ttyACM0", "/dev/ttyACM0"};

}  // namespace korvel::testing
