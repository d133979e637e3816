#pragma once

#include <cstdint>
#include <optional>

// The speed the master has set the line to, in baud: a pseudo-terminal keeps the rate a port
// was set to, standard or not, though it carries bytes at no rate at all.
std::optional<uint32_t> LineBaud(int terminal);
