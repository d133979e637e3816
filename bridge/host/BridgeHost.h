#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How a request that reached the device road ended: its reply's error code (0: served) and
// text, or no code when it was stopped (its page left) and got no reply.
struct TRequestEnd {
    std::optional<int> ErrorCode;
    std::string ErrorText;

    bool operator==(const TRequestEnd&) const = default;
};

// What the request road needs from the program that hosts it: the event log writers, the status
// panels and the three view options. The worker thread calls every operation while a request is
// served, so each must be safe to call from any thread and must never wait for the GUI thread
// (which may be joining that worker).
class TBridgeHost {
public:
    virtual ~TBridgeHost() = default;

    // The line that marks the start of the log and each save, with the date and no prefix.
    virtual void LogDate() = 0;
    virtual void LogInfo(std::string text) = 0;
    virtual void LogError(std::string text) = 0;
    virtual void LogNotice(std::string text) = 0;
    virtual void LogSend(std::string text) = 0;
    virtual void LogReceive(std::string text) = 0;

    // All four zero clears the panels.
    virtual void ShowLinkStatus(uint8_t comPort, uint8_t slave, uint16_t deviceType,
                                int32_t baud) = 0;

    // Errors only; the connection parameters of each request; hex dumps of the frames.
    virtual bool ViewError() const = 0;
    virtual bool ViewSet() const = 0;
    virtual bool ViewHex() const = 0;

    // A request starts on the device road, and how it ended; for a program that shows its state
    // at a glance (the window's tray icon). The others need not listen.
    virtual void RequestBegun() {}
    virtual void RequestEnded(const TRequestEnd& /*end*/) {}
};
