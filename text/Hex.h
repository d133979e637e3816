#pragma once

#include <cstdint>
#include <span>
#include <string>

// Two upper-case hexadecimal digits for the byte.
void AppendHexByte(std::string& out, uint8_t byte);

// Every byte as two upper-case hexadecimal digits, nothing between them.
std::string HexText(std::span<const uint8_t> bytes);
