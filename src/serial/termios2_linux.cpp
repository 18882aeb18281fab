// SPDX-License-Identifier: MIT
// This file exists because the kernel's termios2 (needed for any rate without a B-constant) lives in
// <asm/termbits.h>, whose struct termios clashes with glibc's <termios.h>: the two cannot share a file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "serial/termios2.h"

namespace korvel {

bool SetLineRate(int fd, uint32_t baud) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &tio) != 0) return false;
    uint32_t set = 0;
    return ReadLineRate(fd, set) && set == baud;
}

bool ReadLineRate(int fd, uint32_t& baud) {
    struct termios2 tio {};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    baud = tio.c_ospeed;
    return true;
}

}  // namespace korvel
