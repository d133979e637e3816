#pragma once

class TComp32;
class TIniFile;

// Maps COM numbers to devices from the "Ports" section, one key per port ("COM3=/dev/ttyUSB0").
// Keys that name no port from 1 to 255 and empty paths are ignored.
void ApplyPortMap(const TIniFile& settings, TComp32& port);
