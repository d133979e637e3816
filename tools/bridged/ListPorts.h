#pragma once

#include <string>

// modbus-bridged --list-ports: the serial ports present, what identifies each adapter and the
// COM numbers that open them by the [Ports] of the settings file (a UTF-8 path) (the window's
// "Порты…" table), on standard output a line at a time; the bridge does not start. The program's
// exit status: 0.
int PrintPortsTable(const std::string& settingsPath);
