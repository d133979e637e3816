#pragma once

#include <cstdint>
#include <string>

// Why a serial port did not open. The cause is what the operator can act on; each platform's
// serial layer sorts its own error codes into these causes and adds its own words as the detail
// (the failing call and the system's message).
enum class TOpenCause {
    None,
    // Nothing at that path: an adapter unplugged, a mistyped path, a COM number without a device.
    NoDevice,
    // The user may not open the device.
    NoAccess,
    // Another program holds the device.
    Busy,
    // The path names something that is no serial port.
    NotSerial,
    // The driver does not take the line speed.
    Speed,
    Other,
};

struct TOpenFailure {
    TOpenCause Cause = TOpenCause::None;
    std::string Detail;
};

// The log line that tells the operator which device a COM number named and why it did not open,
// e.g. "COM3 (/dev/ttyUSB0) не открыт: занят другой программой (flock: Resource temporarily
// unavailable)". The path is empty for a number without a device.
std::string OpenFailureLine(uint8_t port, const std::string& path, const TOpenFailure& failure);
