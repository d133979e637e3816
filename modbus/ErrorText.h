#pragma once

#include <cstdint>
#include <string>

// One byte names every failure of a request: 0 none, 1 to 8 Modbus exception codes exactly as the
// device sent them, 100 to 128 and 255 the bridge's own failures. These are the link's; the
// request road adds those of HTTP, JSON, access and its internal fault (RequestErrors.h).
namespace ErrorCode {
inline constexpr uint8_t None = 0;
// The bridge's codes from this one on came after the table that pages and devices have long
// shared; a device's exception code in that range means something of the device's own.
inline constexpr uint8_t FirstAddedCode = 125;
inline constexpr uint8_t BadLength = 100;
inline constexpr uint8_t ForeignAddress = 101;
inline constexpr uint8_t BadCrc = 102;
inline constexpr uint8_t PortOpen = 122;
inline constexpr uint8_t AnswerTimeout = 123;
inline constexpr uint8_t PortOperation = 124;
}  // namespace ErrorCode

// The fixed text of a code as ShownErrorCode gives it, for the link's codes and the request road's
// alike: pages read every text from one table. Codes without a row of their own read "Unknown
// ERROR"; of the negative ones only -1 (255) has a text.
std::string ErrorText(int code);

// The number that replies and the log show for a code of the bridge: the byte read as signed, as
// pages have always read it (255 is -1), except 128, which came later and reads as itself. A
// device's exception code keeps the signed reading (AnswerErrorText).
int ShownErrorCode(uint8_t code);

// The text of the link's verdict on an answer (CheckAnswer): that of ErrorText, except that an
// exception code from FirstAddedCode on reads "Unknown ERROR", never as one of the bridge's
// later texts, which the device cannot mean.
std::string AnswerErrorText(uint8_t code);
