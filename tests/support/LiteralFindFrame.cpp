#include "LiteralFindFrame.h"

uint16_t LiteralCrc16(const uint8_t* block, int length) {
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= block[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                                 : static_cast<uint16_t>(crc >> 1);
        }
    }
    return crc;
}

namespace {

bool LiteralCheckCrc(const uint8_t* block, int length) {
    if (length <= 2) {
        return false;
    }
    const uint16_t stored = static_cast<uint16_t>(block[length - 2] | (block[length - 1] << 8));
    return LiteralCrc16(block, length - 2) == stored;
}

}  // namespace

std::optional<TFrameSpan> LiteralFindFrame(const uint8_t* data, int count, uint8_t slave,
                                           uint8_t function) {
    if (count < 4) {
        return std::nullopt;
    }
    for (int i = 0; i <= count - 4; ++i) {
        if (data[i] == slave && data[i + 1] == function) {
            for (int length = count - i; length >= 4; --length) {
                if (LiteralCheckCrc(data + i, length)) {
                    return TFrameSpan{i, length};
                }
            }
        } else if (data[i] == slave && data[i + 1] == (function | 0x80) && i + 5 <= count &&
                   LiteralCheckCrc(data + i, 5)) {
            return TFrameSpan{i, 5};
        }
    }
    return std::nullopt;
}
