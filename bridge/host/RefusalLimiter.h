#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Keeps events that a client can repeat at will (refused requests, requests while one is
// served) from flooding the log: at most kLinesPerWindow lines in a window of kWindowMs that
// starts with the first event, then one line that counts the rest of the window. The caller
// gives the time, in milliseconds of a monotonic clock.
class TRefusalLimiter {
public:
    static constexpr int kLinesPerWindow = 10;
    static constexpr uint64_t kWindowMs = 1000;

    struct TTurn {
        // Refusals of an ended window that got no line of their own; told before this one.
        uint64_t UnloggedBefore = 0;
        bool WriteLine = false;
    };

    TTurn Note(uint64_t nowMs);
    // The refusals without a line in a window that has ended by now, once; 0 otherwise.
    uint64_t Flush(uint64_t nowMs);
    // The end of the window when refusals in it wait to be counted.
    std::optional<uint64_t> FlushDue() const;

private:
    bool WindowOpen = false;
    uint64_t WindowStart = 0;
    int Written = 0;
    uint64_t Unlogged = 0;
};

// "Отклонено ещё запросов без строки в журнале: <count>"
std::string UnloggedRefusalsLine(uint64_t count);
