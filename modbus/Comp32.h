#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "SerialIo.h"
#include "StopSignal.h"

// The queues Purge drops. An abort of pending transfers and a clear of a queue both come down to
// dropping that queue: the port has no pending transfers of its own.
enum TPurgeFlags : unsigned {
    PurgeTxAbort = 1,
    PurgeRxAbort = 2,
    PurgeTxClear = 4,
    PurgeRxClear = 8,
};

// The serial port of the link: one port at a time, opened by number for exclusive use. Operations
// report failure by their result and record no error code.
class TComp32 {
public:
    TComp32();
    explicit TComp32(std::unique_ptr<TSerialIo> io);
    ~TComp32();
    TComp32(const TComp32&) = delete;
    TComp32& operator=(const TComp32&) = delete;

    // The device path of a port number; numbers without a mapping name the platform's device
    // (/dev/ttyS<n-1>, \\.\COM<n>), and port 0 has no device. A mapping may change from any
    // thread while a request runs: the next Open takes it.
    void MapPort(uint8_t port, const std::string& path);
    std::string PortPath(uint8_t port) const;

    bool Open(uint8_t port, int32_t baud);
    // Why the last Open of a port failed, for the log; the port's path is PortName.
    const TOpenFailure& LastOpenFailure() const { return OpenFailure; }
    bool Close();
    bool IsOpen() const;

    bool Purge(unsigned flags);
    bool PurgeRx();
    bool PurgeTx();
    bool SetDtr(uint8_t level);
    bool SetRts(uint8_t level);

    // Writes the block and waits until it has left the transmitter (TSerialIo::Write): at most the
    // time the bytes need at the baud rate plus one second.
    bool Write(const uint8_t* buffer, uint32_t& written, int32_t count);

    // Waits up to waitMs for received bytes, then reads all the driver holds if they fit.
    bool Read(uint8_t* buffer, uint32_t capacity, uint32_t waitMs, uint32_t& got);

    // Milliseconds on the monotonic clock.
    static uint64_t TickMs();
    static std::string ToHex(const uint8_t* bytes, int count);

    // A stop request wakes every wait of the link at once; Read and Write then fail and Pause
    // returns false. The owner resets it before the link is used again.
    void RequestStop() { Stop.Request(); }
    void ResetStop() { Stop.Reset(); }
    bool StopRequested() const { return Stop.Requested(); }
    // 0, or why the stop request could not be set up (an error number).
    int StopSetupError() const { return Stop.SetupError(); }

    // Waits between exchanges; false when a stop cut it short.
    bool Pause(uint32_t milliseconds) const { return Stop.WaitFor(milliseconds); }

    // Write time bound: the line time of count characters of ten bits plus one second.
    static uint32_t WriteLimitMs(int32_t count, int32_t baud);

    std::string PortName;

protected:
    TStopSignal Stop;
    TOpenFailure OpenFailure;

private:
    std::unique_ptr<TSerialIo> Io;
    mutable std::mutex PortPathsLock;
    std::array<std::string, 256> PortPaths;
    int32_t Baud = 0;
};
