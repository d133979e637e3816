#pragma once

#include <cstdint>

// Sets the terminal's rate as a master's port does, any rate in baud (termios2).
bool SetPtyRate(int terminal, uint32_t baud);
