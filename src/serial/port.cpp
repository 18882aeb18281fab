// SPDX-License-Identifier: MIT
#include "serial/port.h"

#include "text/failure_texts.h"

namespace korvel {

std::unique_ptr<Port> OpenSerialPort(const std::string& path, uint32_t baud, Failure& failure) {
    failure = {};
    if (baud == 0) {
        failure = {FailureKind::Settings, failure_text::NoBaudRate()};
        return nullptr;
    }
    return OpenSystemPort(path, baud, failure);
}

}  // namespace korvel
