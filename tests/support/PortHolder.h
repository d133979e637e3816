#pragma once

#include <optional>
#include <string>

// The bridge listens on a fixed port, so a program already listening there would answer in its
// place and fail tests with unrelated messages. Names that program (ss's lines for the port,
// with the process when ss may see it), or none when the port is free on both loopback addresses
// for a listener that binds as the bridge does.
std::optional<std::string> PortHolder(int port);

// A loopback port that nothing listens on now, for a second server of the test's own (the
// Modbus TCP front end); 0 when none could be had.
int FreeLoopbackPort();
