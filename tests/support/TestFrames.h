#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "Comp32.h"
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

// Upper-case hexadecimal without separators, as the simulator prints its events.
inline std::string Hex(std::span<const uint8_t> bytes) {
    return TComp32::ToHex(bytes.data(), static_cast<int>(bytes.size()));
}
