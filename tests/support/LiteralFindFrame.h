#pragma once

#include <cstdint>
#include <optional>

#include "FrameFinder.h"

// The frame search written out the plain way: every start position, every candidate length
// longest first, a full bitwise CRC each time. Slow; the yardstick for the frame finder.
std::optional<TFrameSpan> LiteralFindFrame(const uint8_t* data, int count, uint8_t slave,
                                           uint8_t function);
uint16_t LiteralCrc16(const uint8_t* block, int length);
