#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

// A slave as the bridge's lines know it: the COM port of its line and its address there.
struct TSlaveId {
    uint8_t Port = 0;
    uint8_t Address = 0;

    auto operator<=>(const TSlaveId&) const = default;
};

// A request waiting for the line, as the queue orders it. The request itself stays with whoever
// holds it, under its ticket.
struct TQueueEntry {
    // Unique, rising with the arrival.
    uint64_t Ticket = 0;
    // Who sent it: one connection, of whatever kind; the turn goes round the clients.
    uint64_t Client = 0;
    // None for a request that names no slave: it fails before the line and answers at once.
    std::optional<TSlaveId> Slave;
    uint64_t ArrivedMs = 0;
};

enum class TAdmission {
    Queued,
    // The queue holds as many as it may: the request is refused as if there were no queue.
    Full,
    // Its slave did not answer its last request and one request for it waits already: the
    // request is answered at once, nothing of it sent.
    SlaveSilent,
};

// The order in which requests that arrive while the line is busy get the line. The clients take
// turns, the one served longest ago first (a client new to the queue counts from its arrival),
// each client's requests in the order they came; requests for slaves that answered their last
// request go before those for a slave that did not, for one round: once as many have gone before
// it as other clients wait, a silent slave's request takes its turn, so that a slave that is back
// is heard again however busy the line. Only one request per silent slave may wait. A request
// waits at most waitMs. No sockets and no clock: times are given.
class TLineQueue {
public:
    TLineQueue(size_t depth, uint64_t waitMs) : Depth(depth), WaitMs(waitMs) {}

    TAdmission Admit(const TQueueEntry& entry);
    // The next request for the line, out of the queue; none when none waits.
    std::optional<TQueueEntry> TakeNext();
    // The requests that have waited waitMs at nowMs, out of the queue, oldest first.
    std::vector<TQueueEntry> TakeExpired(uint64_t nowMs);
    // When the oldest wait runs out; none while none waits.
    std::optional<uint64_t> NextExpiryMs() const;
    // The client is gone: its waiting requests leave the queue, and its turn is forgotten.
    std::vector<TQueueEntry> RemoveClient(uint64_t client);

    // A served request's slave answered it, or did not.
    void Heard(TSlaveId slave, bool answered);
    bool Silent(TSlaveId slave) const { return SilentSlaves.contains(slave); }
    // True the first time it is asked about a slave since the slave fell silent: the log says
    // once that its requests are refused, not for each.
    bool FirstRefusalSinceSilent(TSlaveId slave);

    size_t Size() const { return Waiting.size(); }
    bool Empty() const { return Waiting.empty(); }

private:
    struct TWaiting {
        TQueueEntry Entry;
        // Requests of other clients taken while it waited for a silent slave.
        size_t PassedOver = 0;
    };
    bool WaitsForSilentSlave(const TQueueEntry& entry) const;

    size_t Depth;
    uint64_t WaitMs;
    // In the order of arrival.
    std::vector<TWaiting> Waiting;
    // The turn number at which each client was last served, or at which it came when it has not
    // been served yet.
    struct TClientTurn {
        uint64_t Turn = 0;
        bool Served = false;
    };
    std::map<uint64_t, TClientTurn> LastTurn;
    uint64_t Turn = 0;
    std::set<TSlaveId> SilentSlaves;
    std::set<TSlaveId> RefusalsLogged;
};
