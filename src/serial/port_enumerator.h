// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace korvel {

// The serial ports the system publishes, in a stable order.
class PortEnumerator {
  public:
    virtual ~PortEnumerator() = default;
    virtual std::vector<std::u16string> List() = 0;
    // As List, but nothing when the system's list could not be read: that is not an empty list.
    virtual std::optional<std::vector<std::u16string>> Read() { return List(); }
};

}  // namespace korvel
