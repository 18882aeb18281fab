// SPDX-License-Identifier: MIT
// What the system's device-change broadcast says happened to a device; the hot-plug monitor reports
// its changes with these, and the dialog's device-change handler acts on them.
#pragma once

#include <cstdint>

namespace korvel {

constexpr uintptr_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uintptr_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

}  // namespace korvel
