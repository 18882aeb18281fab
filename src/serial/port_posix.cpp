// SPDX-License-Identifier: MIT
#include "serial/port.h"

namespace korvel {

std::unique_ptr<Port> OpenSerialPort(const std::string&, uint32_t, OpenFailure& failure) {
    failure = {OpenFailureKind::Other, "not implemented"};
    return nullptr;
}

}  // namespace korvel
