#pragma once

#include <cstdint>
#include <string>

// One byte names every failure of a request: 0 none, 1 to 8 Modbus exception codes exactly as the
// device sent them, 100 to 127 the bridge's own failures. These are the link's; the request
// road adds those of HTTP, JSON and access (RequestErrors.h).
namespace ErrorCode {
inline constexpr uint8_t None = 0;
inline constexpr uint8_t BadLength = 100;
inline constexpr uint8_t ForeignAddress = 101;
inline constexpr uint8_t BadCrc = 102;
inline constexpr uint8_t PortOpen = 122;
inline constexpr uint8_t AnswerTimeout = 123;
inline constexpr uint8_t PortOperation = 124;
}  // namespace ErrorCode

// The fixed text of a code, for the link's codes and the request road's alike: pages read every
// text from one table. Codes without a row of their own read "Unknown ERROR". The code is
// taken as a signed byte, so the values 128 to 255 are negative and have no text.
std::string ErrorText(int8_t code);
