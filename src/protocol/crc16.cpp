// SPDX-License-Identifier: MIT
#include "protocol/crc16.h"

#include <array>

namespace korvel {
namespace {

// Slicing by eight: table k holds the register contribution of a byte followed by k zero bytes, so
// eight bytes are folded in with eight independent look-ups instead of a chain of eight.
using Tables = std::array<std::array<uint16_t, 256>, 8>;

constexpr Tables MakeTables() {
    Tables t{};
    for (unsigned b = 0; b < 256; ++b) {
        auto reg = static_cast<uint16_t>(b);
        for (int i = 0; i < 8; ++i) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : (reg >> 1);
        t[0][b] = reg;
    }
    for (size_t k = 1; k < t.size(); ++k) {
        for (unsigned b = 0; b < 256; ++b)
            t[k][b] = static_cast<uint16_t>((t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF]);
    }
    return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint16_t Crc16(const uint8_t* data, int32_t length) { return Crc16Update(0xFFFF, data, length); }

uint16_t Crc16Update(uint16_t reg, const uint8_t* data, int32_t length) {
    if (length <= 0) return reg;
    const uint8_t* p = data;
    const uint8_t* const end = data + length;
    while (end - p >= 8) {
        const unsigned r = reg ^ (p[0] | (p[1] << 8));
        reg = static_cast<uint16_t>(kTables[7][r & 0xFF] ^ kTables[6][r >> 8] ^ kTables[5][p[2]] ^
                                    kTables[4][p[3]] ^ kTables[3][p[4]] ^ kTables[2][p[5]] ^
                                    kTables[1][p[6]] ^ kTables[0][p[7]]);
        p += 8;
    }
    while (p != end) reg = static_cast<uint16_t>((reg >> 8) ^ kTables[0][(reg ^ *p++) & 0xFF]);
    return reg;
}

}  // namespace korvel
