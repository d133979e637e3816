#pragma once

#include <array>
#include <cstdint>
#include <string>

// The texts of the four status panels: "COM1", "ADDR 1", "19200 бод" and the device name; all
// empty when any value is 0.
std::array<std::string, 4> LinkStatusTexts(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                                           int32_t baud);
