#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LogLine.h"
#include "RefusalLimiter.h"

class TBridgeHost;

// A line for the host's log: the writer of its kind takes the text.
struct TLogEntry {
    TLogKind Kind = TLogKind::Info;
    std::string Text;
    bool operator==(const TLogEntry&) const = default;
};

// Each entry with the host's writer of its kind, in order.
void WriteLogEntries(TBridgeHost& host, const std::vector<TLogEntry>& entries);

// The lines of events that a client can call up as often as it likes (refusals, requests while
// one is served): those of ten events a second are written, the other events are counted in one
// line when their second is over. The first event of a second always has its lines. The caller
// gives the time, in milliseconds of a monotonic clock.
class TLimitedLines {
public:
    // The line that counts the events of an ended second that got no lines of their own.
    using TCountLine = std::string (*)(uint64_t count);

    explicit TLimitedLines(TCountLine countLine) : CountLine(countLine) {}

    // Adds to out the count of an ended second, if one is due, then the event's lines if it may
    // have them.
    void Note(uint64_t nowMs, const std::vector<TLogEntry>& lines, std::vector<TLogEntry>& out);
    // When Flush has a count line to give; none while no event waits to be counted.
    std::optional<uint64_t> FlushDue() const { return Limiter.FlushDue(); }
    // Adds to out the count line of a second that has ended by now, once.
    void Flush(uint64_t nowMs, std::vector<TLogEntry>& out);

private:
    TRefusalLimiter Limiter;
    TCountLine CountLine;
};
