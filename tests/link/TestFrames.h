#pragma once

#include <cstdint>
#include <vector>

#include "Crc16.h"

using TBytes = std::vector<uint8_t>;

// The bytes followed by their CRC, low byte first: a whole RTU frame.
inline TBytes WithCrc(TBytes bytes) {
    const uint16_t crc = Crc16(bytes.data(), bytes.size());
    bytes.push_back(static_cast<uint8_t>(crc & 0xFF));
    bytes.push_back(static_cast<uint8_t>(crc >> 8));
    return bytes;
}

inline TBytes Concat(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const TBytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}
