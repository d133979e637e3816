#pragma once

#include <cstddef>
#include <cstdint>

// CRC-16/MODBUS: reflected polynomial 0xA001, initial value 0xFFFF, no final inversion.
// The CRC travels low byte first.
inline constexpr uint16_t kCrc16Initial = 0xFFFF;

uint16_t Crc16Step(uint16_t crc, uint8_t byte);
uint16_t Crc16(const uint8_t* block, size_t length);

// True when the block ends with the CRC of the bytes before it. Blocks of two bytes or less never
// carry a frame.
bool CheckCrc(const uint8_t* block, int16_t length);
