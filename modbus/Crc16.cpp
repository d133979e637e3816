#include "Crc16.h"

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
