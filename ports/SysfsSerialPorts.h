#pragma once

#include <string>

#include "SerialPorts.h"

// The serial ports of a Linux system whose root folder is root ("/", or a made-up tree in
// tests): every device of /sys/class/tty that a driver serves, without the UART slots that
// have no UART behind them (type 0); for USB ones the ids, serial number and texts of the USB
// device above them, and the /dev/serial/by-id name that leads to each. In the order of their
// names, numbers counted (ttyS2 before ttyS10). Targets resolve [Ports] values inside root.
TPortsListing SysfsPortsListing(const std::string& root);
