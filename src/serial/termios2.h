// SPDX-License-Identifier: MIT
// Line rates by number, for rates that have no B-constant of <termios.h>.
#pragma once

#include <cstdint>

namespace korvel {

// Sets input and output rate of the terminal fd to baud exactly; false when the driver refuses.
bool SetLineRate(int fd, uint32_t baud);
// The output rate the terminal fd is set to, as a number.
bool ReadLineRate(int fd, uint32_t& baud);

}  // namespace korvel
