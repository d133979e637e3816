#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "OpenFailure.h"

class TStopSignal;

enum class TModemLine { Dtr, Rts };

// Milliseconds the line needs for the characters (ten bits each: start, 8 data, stop) at the baud
// rate, rounded up.
inline uint64_t LineTimeMs(uint64_t characters, int32_t baud) {
    if (baud <= 0) {
        return 0;
    }
    const auto rate = static_cast<uint64_t>(baud);
    return (characters * 10000U + rate - 1) / rate;
}

// The same in microseconds, for the waits of the turnaround, which a millisecond would spoil at
// high rates.
inline uint64_t LineTimeUs(uint64_t characters, int32_t baud) {
    if (baud <= 0) {
        return 0;
    }
    const auto rate = static_cast<uint64_t>(baud);
    return (characters * 10000000U + rate - 1) / rate;
}

// The serial calls the link needs, so that tests can put a scripted port in place of the device.
// Every operation reports failure through its result; none of them blocks past its own bound or
// past a stop request.
class TSerialIo {
public:
    virtual ~TSerialIo() = default;

    // Opens the device for exclusive use and sets raw transfer with 8 data bits, no parity and one
    // stop bit at the baud rate; flow-control settings stay as they were. On failure, says why.
    virtual bool Open(const std::string& path, int32_t baud, TOpenFailure& failure) = 0;
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;

    // Drops what the driver holds in the chosen queues.
    virtual bool Discard(bool input, bool output) = 0;

    virtual bool SetModemLine(TModemLine line, bool raised) = 0;

    // Writes the bytes and returns once they have left the transmitter, so that an RS-485 adapter
    // may turn the line to receive at once: the driver's queue is empty and so is the UART's
    // transmitter, or, where the driver cannot tell about its transmitter (Windows, USB adapters,
    // pseudo-terminals), the line time of the two characters a UART may still hold has passed
    // since the queue emptied. Fails when limitMs passes first, on a stop request or when the
    // driver fails; written then counts the bytes the driver took.
    virtual bool Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
                       const TStopSignal& stop) = 0;

    // Waits up to waitMs for input, then reads every byte the driver holds if they fit.
    virtual bool Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
                      const TStopSignal& stop) = 0;
};

// The serial port of this platform: termios (PosixSerialIo.cpp) or the Win32 communications API
// in overlapped mode (Win32SerialIo.cpp).
std::unique_ptr<TSerialIo> MakePlatformSerialIo();

// The device of a port number (1 to 255) that no setting maps: /dev/ttyS<n-1> on Linux,
// \\.\COM<n> on Windows.
std::string PlatformPortPath(uint8_t port);
