// SPDX-License-Identifier: MIT
#include "protocol/crc16.h"

#include <array>

namespace korvel {
namespace {

// Slicing by sixteen: table k holds the register contribution of a byte followed by k zero bytes, so
// sixteen bytes are folded in with sixteen independent look-ups instead of a chain of sixteen; a
// record line's few remaining bytes go four, then one at a time.
using Tables = std::array<std::array<uint16_t, 256>, 16>;

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
    const auto& t = kTables;
    while (end - p >= 16) {
        const unsigned r = reg ^ (p[0] | (p[1] << 8));
        reg = static_cast<uint16_t>(t[15][r & 0xFF] ^ t[14][r >> 8] ^ t[13][p[2]] ^ t[12][p[3]] ^
                                    t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^
                                    t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^
                                    t[1][p[14]] ^ t[0][p[15]]);
        p += 16;
    }
    while (end - p >= 4) {
        const unsigned r = reg ^ (p[0] | (p[1] << 8));
        reg = static_cast<uint16_t>(t[3][r & 0xFF] ^ t[2][r >> 8] ^ t[1][p[2]] ^ t[0][p[3]]);
        p += 4;
    }
    while (p != end) reg = static_cast<uint16_t>((reg >> 8) ^ t[0][(reg ^ *p++) & 0xFF]);
    return reg;
}

}  // namespace korvel
