#pragma once

#include <string_view>
#include <vector>

class TComp32;
class TIniFile;

// Maps COM numbers to devices from the "Ports" section, one key per port ("COM3=/dev/ttyUSB0").
// Keys that name no port from 1 to 255 and empty paths are ignored.
void ApplyPortMap(const TIniFile& settings, TComp32& port);

// The COM numbers that ApplyPortMap maps.
std::vector<int> MappedPorts(const TIniFile& settings);

// "COM3" (any case) is 3; true for the numbers 1 to 255 only.
bool ParsePortName(std::string_view name, int& number);
