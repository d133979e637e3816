#pragma once

#include <cstdint>
#include <string>

// One byte names every failure of a request: 0 none, 1 to 8 Modbus exception codes exactly as the
// device sent them, 100 to 126 the bridge's own failures.
namespace ErrorCode {
inline constexpr uint8_t None = 0;
inline constexpr uint8_t BadLength = 100;
inline constexpr uint8_t ForeignAddress = 101;
inline constexpr uint8_t BadCrc = 102;
inline constexpr uint8_t NoPostLine = 103;
inline constexpr uint8_t NoHttpVersion = 104;
inline constexpr uint8_t NoHeaderEnd = 105;
inline constexpr uint8_t NoJsonData = 106;
inline constexpr uint8_t JsonParse = 107;
inline constexpr uint8_t MissingCompanyId = 108;
inline constexpr uint8_t MissingDeviceId = 109;
inline constexpr uint8_t MissingSlaveAddr = 110;
inline constexpr uint8_t MissingBaudRate = 111;
inline constexpr uint8_t MissingComPort = 112;
inline constexpr uint8_t MissingPollMs = 113;
inline constexpr uint8_t MissingTimeoutMs = 114;
inline constexpr uint8_t MissingCtrlEcho = 115;
inline constexpr uint8_t MissingCtrlDtr = 116;
inline constexpr uint8_t MissingCtrlRts = 117;
inline constexpr uint8_t MissingCtrlInvert = 118;
inline constexpr uint8_t MissingRandString = 119;
inline constexpr uint8_t MissingPdu = 120;
inline constexpr uint8_t UnknownParameterType = 121;
inline constexpr uint8_t PortOpen = 122;
inline constexpr uint8_t AnswerTimeout = 123;
inline constexpr uint8_t PortOperation = 124;
// Refused by the bridge's access settings: Host, navigation, origin or key; and by its port policy.
inline constexpr uint8_t AccessRefused = 125;
inline constexpr uint8_t PortRefused = 126;
}  // namespace ErrorCode

// The fixed text of a code; codes without a row of their own read "Unknown ERROR". The code is
// taken as a signed byte, so the values 128 to 255 are negative and have no text.
std::string ErrorText(int8_t code);
