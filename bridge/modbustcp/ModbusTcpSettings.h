#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class TIniFile;

// The Modbus TCP front end, from the [ModbusTcp] section: off without Port=; otherwise a server
// on that port whose requests go to one line, as a page's request with these members would
// (com_port, baud_rate, timeout_ms and the four ctrl_ options).
struct TModbusTcpSettings {
    // At least this many requests may wait for the line while the front end is on: a SCADA
    // tool polls several slaves at once, and it shares the line with the pages.
    static constexpr size_t kLeastQueue = 8;
    static constexpr int32_t kHighestBaud = 4'000'000;
    static constexpr int32_t kLongestTimeoutMs = 60'000;

    std::optional<uint16_t> Port;
    uint8_t Com = 1;
    int32_t Baud = 9600;
    int32_t TimeoutMs = 1000;
    bool CtrlEcho = false;
    bool CtrlDtr = false;
    bool CtrlRts = false;
    bool CtrlInvert = false;
};

// A value that cannot be read or lies outside its bounds (Port 1 to 65535, COM 1 to 255, Baud 1
// to kHighestBaud, TimeoutMs 1 to kLongestTimeoutMs, the Ctrl options 0 or 1) is a problem
// line; the default stands in for it, and a bad Port leaves the front end off.
TModbusTcpSettings ReadModbusTcpSettings(const TIniFile& settings,
                                         std::vector<std::string>& problems);
