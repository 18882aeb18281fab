// SPDX-License-Identifier: MIT
// The serial ports of this machine as sysfs publishes them, plus ports the front end names itself.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "serial/port_enumerator.h"

namespace korvel {

class SysfsPortEnumerator : public PortEnumerator {
  public:
    // sysfs is where sysfs is mounted; tests point it at a fake tree.
    explicit SysfsPortEnumerator(std::string sysfs = "/sys") : sysfs_(std::move(sysfs)) {}

    // Device paths listed after the discovered ports, in this order (a --port path, a simulated port).
    void SetExtraPorts(std::vector<std::string> paths) { extra_ = std::move(paths); }

    // The discovered ports, then the extra ones. When the tty class folder cannot be read, *readable
    // (when given) turns false and only the extra ones are listed.
    std::vector<std::string> Paths(bool* readable = nullptr) const;
    std::vector<std::u16string> List() override;
    std::optional<std::vector<std::u16string>> Read() override;

  private:
    std::string sysfs_;
    std::vector<std::string> extra_;
};

// "ttyS2" before "ttyS10": runs of digits compare by value.
bool NaturalLess(std::string_view a, std::string_view b);

}  // namespace korvel
