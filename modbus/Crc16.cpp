#include "Crc16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
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

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16Step(uint16_t crc, uint8_t byte) {
    return static_cast<uint16_t>((crc >> 8) ^ kTable[(crc ^ byte) & 0xFFU]);
}

uint16_t Crc16(const uint8_t* block, size_t length) {
    uint16_t crc = kCrc16Initial;
    for (size_t i = 0; i < length; ++i) {
        crc = Crc16Step(crc, block[i]);
    }
    return crc;
}

bool CheckCrc(const uint8_t* block, int16_t length) {
    if (length <= 2) {
        return false;
    }
    const uint16_t expected = static_cast<uint16_t>(block[length - 2] | (block[length - 1] << 8));
    return Crc16(block, static_cast<size_t>(length - 2)) == expected;
}
