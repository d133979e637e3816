#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class TDeadline;
class TStopSignal;

// Whether the UART has sent its last character, as far as the driver can tell.
enum class TTransmitter { Empty, Busy, Unknown };

// What the driver reports about written bytes that are not on the line yet.
struct TOutputState {
    uint64_t Queued = 0;
    TTransmitter Transmitter = TTransmitter::Unknown;
};

// The next step of the wait for written bytes to leave the line: ask the driver again after
// WaitUs, or, once Sent, keep the line WaitUs longer and end.
struct TDrainStep {
    bool Sent = false;
    uint64_t WaitUs = 0;

    bool operator==(const TDrainStep&) const = default;
};

// Bytes still queued are given their line time before the driver is asked again. Once the queue
// is empty the bytes are sent when the transmitter is empty, or, where the driver cannot tell,
// after the line time of what a UART may still hold: its holding register and its shift
// register, two characters at most, fewer for a shorter write.
TDrainStep NextDrainStep(const TOutputState& state, size_t written, int32_t baud);

// Asks the driver until written bytes have left the line, each wait beside the stop request.
// False when a stop is requested or the deadline comes first (also when the last wait would pass
// it). A driver that cannot be asked (its device gone) reports an empty queue and an unknown
// transmitter: the bytes it took get their hold, and the read that follows finds the port gone.
using TOutputProbe = std::function<TOutputState()>;
bool WaitUntilSent(const TOutputProbe& probe, size_t written, int32_t baud, const TStopSignal& stop,
                   const TDeadline& deadline);
