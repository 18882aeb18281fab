// SPDX-License-Identifier: MIT
#include "protocol/crc16.h"

#include <array>

namespace korvel {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned b = 0; b < 256; ++b) {
        uint16_t reg = static_cast<uint16_t>(b);
        for (int i = 0; i < 8; ++i) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0xA001) : (reg >> 1);
        table[b] = reg;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16(const uint8_t* data, int32_t length) {
    uint16_t reg = 0xFFFF;
    for (int32_t i = 0; i < length; ++i)
        reg = static_cast<uint16_t>((reg >> 8) ^ kTable[(reg ^ data[i]) & 0xFF]);
    return reg;
}

}  // namespace korvel
