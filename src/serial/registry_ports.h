// SPDX-License-Identifier: MIT
// The serial ports Windows publishes under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the registry's
// enumeration order (not sorted).
#pragma once

#include <string>
#include <vector>

#include "serial/port_enumerator.h"

namespace korvel {

class RegistryPortEnumerator : public PortEnumerator {
  public:
    // key is below HKEY_LOCAL_MACHINE; tests point it at a key of their own.
    explicit RegistryPortEnumerator(std::u16string key = u"HARDWARE\\DEVICEMAP\\SERIALCOMM\\")
        : key_(std::move(key)) {}
    // The value data of the key, one name each; empty when the key cannot be opened.
    std::vector<std::u16string> List() override;

  private:
    std::u16string key_;
};

}  // namespace korvel
