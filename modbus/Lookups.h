#pragma once

#include <cstdint>
#include <string>

// Upper-case name of a Modbus function code for the event log; "UNKNOWN" without a row.
std::string FunctionName(uint32_t code);

// Index 0 to 7 of a line speed; every rate off the table counts as the fastest.
int BaudIndex(int32_t baud);

// Pause in milliseconds after an answered exchange, so slow devices get their bus turnaround.
uint32_t ExchangePause(int32_t baud);

// Display name of a device-type code reported in a device-section answer; never null.
const char* DeviceName(uint16_t code);

struct TDeviceType {
    uint16_t Code;
    const char* Name;
};

// Rows 0 to 12 are searched; the last row is the answer for every other code.
inline constexpr int kDeviceTypeCount = 14;
extern const TDeviceType DeviceTypes[kDeviceTypeCount];
