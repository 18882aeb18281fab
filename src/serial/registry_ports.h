// SPDX-License-Identifier: MIT
// The serial ports Windows publishes under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, in the registry's
// enumeration order (not sorted).
#pragma once

#include <optional>
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
    // As List, but nothing when the key cannot be opened (absent or denied), so the dialog keeps its list
    // and looks again, as it does when the Linux list cannot be read. *absent, when given, tells which.
    std::optional<std::vector<std::u16string>> Read() override { return Read(nullptr); }
    std::optional<std::vector<std::u16string>> Read(bool* absent);

  private:
    std::u16string key_;
};

}  // namespace korvel
