// SPDX-License-Identifier: MIT
#include "support/test_ports.h"

namespace korvel::testing {

const TestPort kBuiltInPort{u"COM2", "\\\\.\\COM2"};
const TestPort kAdapter0{u"COM4", "\\\\.\\COM4"};
const TestPort kAdapter1{u"COM5", "\\\\.\\COM5"};
const TestPort kAdapter2{u"COM12", "\\\\.\\COM12"};
const TestPort kModemPort{u"COM7", "\\\\.\\COM7"};

}  // namespace korvel::testing
