// SPDX-License-Identifier: MIT
#pragma once

#include <string>
#include <vector>

namespace korvel {

// The serial ports the system publishes, in a stable order.
class PortEnumerator {
  public:
    virtual ~PortEnumerator() = default;
    virtual std::vector<std::u16string> List() = 0;
};

}  // namespace korvel
