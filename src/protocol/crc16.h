// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <string_view>

namespace korvel {

// CRC-16/MODBUS: register 0xFFFF, reflected polynomial 0xA001, no final XOR. A length of 0 or less
// gives 0xFFFF.
uint16_t Crc16(const uint8_t* data, int32_t length);
// The register after `length` more bytes from `reg`. With no final XOR the register is the checksum, so
// Crc16(head + tail) is Crc16Update(Crc16(head), tail): a head many lines share is folded in once.
uint16_t Crc16Update(uint16_t reg, const uint8_t* data, int32_t length);

inline uint16_t Crc16(std::string_view bytes) {
    return Crc16(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
}

}  // namespace korvel
