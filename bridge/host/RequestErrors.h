#pragma once

#include <cstdint>

#include "ErrorText.h"

// The request road's own failures, beside the link's: the HTTP framing, the JSON parameters, the
// access settings and a fault of the bridge itself. Their texts are in the one table of
// ErrorText.
namespace ErrorCode {
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
// Refused by the bridge's access settings: Host, navigation, origin or key; and by its port policy.
inline constexpr uint8_t AccessRefused = 125;
inline constexpr uint8_t PortRefused = 126;
// Not served yet: the operator is asked about the page's origin in the bridge's window.
inline constexpr uint8_t AccessAwaitingOperator = 127;
// An exception ended the request where none was expected: the request is answered all the same.
// Every code up to 127 is taken; the byte
// 255 reads -1 in a reply, the usual sign of an internal failure, and leaves 128 and up free.
inline constexpr uint8_t InternalFault = 255;
// Not sent: the request waited for the line longer than the queue allows, or its slave did not
// answer its last request and one request for it waits already. Reads 128 (ShownErrorCode).
inline constexpr uint8_t QueueWaitExpired = 128;
}  // namespace ErrorCode
