#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final inversion.
// The CRC travels low byte first, so a frame that ends in its own CRC leaves a zero residue.
inline constexpr uint16_t kCrc16Initial = 0xFFFF;

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        uint16_t crc = static_cast<uint16_t>(byte);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001U)
                                  : static_cast<uint16_t>(crc >> 1);
        }
        table[byte] = crc;
    }
    return table;
}

inline constexpr std::array<uint16_t, 256> kCrc16Table = MakeCrc16Table();

inline uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ byte) & 0xFFU]);
}

uint16_t Crc16(const uint8_t* block, size_t length);

// True when the block ends with the CRC of the bytes before it. Blocks of two bytes or less never
// carry a frame.
bool CheckCrc(const uint8_t* block, int16_t length);
