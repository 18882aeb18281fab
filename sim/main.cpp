// SPDX-License-Identifier: MIT
#include <cstdio>

int main() {
    std::fputs("korvel-sim: not built yet\n", stderr);
    return 1;
}
