#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "ModbusProtocol.h"

// A frame read only where it has bytes: every reader asks Has (or HasDataWord) before it reads.
class TFrameReader {
public:
    explicit TFrameReader(std::span<const uint8_t> bytes) : Bytes(bytes) {}

    bool Has(size_t at) const { return at < Bytes.size(); }
    uint8_t At(size_t at) const { return Bytes[at]; }
    // The big-endian word at the position; Has(at + 1) must hold.
    uint16_t Word(size_t at) const {
        return static_cast<uint16_t>((Bytes[at] << 8) | Bytes[at + 1]);
    }
    // A whole word of the frame's data, in front of its CRC.
    bool HasDataWord(size_t at) const { return at + 1 + kCrcBytes < Bytes.size(); }
    uint8_t ByteOrZero(size_t at) const { return Has(at) ? Bytes[at] : 0; }

private:
    std::span<const uint8_t> Bytes;
};
