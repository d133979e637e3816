#include "LineQueue.h"

#include <algorithm>

bool TLineQueue::WaitsForSilentSlave(const TQueueEntry& entry) const {
    return entry.Slave && Silent(*entry.Slave);
}

TAdmission TLineQueue::Admit(const TQueueEntry& entry) {
    if (WaitsForSilentSlave(entry) &&
        std::any_of(Waiting.begin(), Waiting.end(), [&entry](const TWaiting& waiting) {
            return waiting.Entry.Slave == entry.Slave;
        })) {
        return TAdmission::SlaveSilent;
    }
    if (Waiting.size() >= Depth) {
        return TAdmission::Full;
    }
    // A client new to the queue takes its place in the round at its arrival, not before every
    // client served so far: a page that comes back on a new connection for each request would
    // otherwise always go first, and a master that keeps its connection would wait for ever.
    LastTurn.try_emplace(entry.Client, TClientTurn{Turn, false});
    Waiting.push_back({entry});
    return TAdmission::Queued;
}

std::optional<TQueueEntry> TLineQueue::TakeNext() {
    // Only each client's oldest request may go; of those, one for an answering slave first
    // (unless a silent slave's has let a round go by), then the client whose turn is longest ago
    // (one that came at a turn goes before the client served at it), then the one that came
    // first.
    std::vector<std::vector<TWaiting>::iterator> heads;
    std::set<uint64_t> seen;
    for (auto waiting = Waiting.begin(); waiting != Waiting.end(); ++waiting) {
        if (seen.insert(waiting->Entry.Client).second) {
            heads.push_back(waiting);
        }
    }
    if (heads.empty()) {
        return std::nullopt;
    }
    const size_t otherClients = heads.size() - 1;
    const auto rank = [this, otherClients](const TWaiting& waiting) {
        const TClientTurn& turn = LastTurn.at(waiting.Entry.Client);
        const bool yields =
            WaitsForSilentSlave(waiting.Entry) && waiting.PassedOver <= otherClients;
        return std::make_tuple(yields, turn.Turn, turn.Served, waiting.Entry.Ticket);
    };
    const auto best = *std::min_element(heads.begin(), heads.end(),
                                        [&rank](auto a, auto b) { return rank(*a) < rank(*b); });
    const TQueueEntry next = best->Entry;
    Waiting.erase(best);
    for (TWaiting& waiting : Waiting) {
        if (waiting.Entry.Client != next.Client && WaitsForSilentSlave(waiting.Entry)) {
            ++waiting.PassedOver;
        }
    }
    LastTurn[next.Client] = TClientTurn{++Turn, true};
    return next;
}

std::vector<TQueueEntry> TLineQueue::TakeExpired(uint64_t nowMs) {
    std::vector<TQueueEntry> expired;
    std::erase_if(Waiting, [this, nowMs, &expired](const TWaiting& waiting) {
        if (nowMs - waiting.Entry.ArrivedMs < WaitMs) {
            return false;
        }
        expired.push_back(waiting.Entry);
        return true;
    });
    return expired;
}

std::optional<uint64_t> TLineQueue::NextExpiryMs() const {
    if (Waiting.empty()) {
        return std::nullopt;
    }
    const auto oldest = std::min_element(
        Waiting.begin(), Waiting.end(),
        [](const TWaiting& a, const TWaiting& b) { return a.Entry.ArrivedMs < b.Entry.ArrivedMs; });
    return oldest->Entry.ArrivedMs + WaitMs;
}

std::vector<TQueueEntry> TLineQueue::RemoveClient(uint64_t client) {
    std::vector<TQueueEntry> removed;
    std::erase_if(Waiting, [client, &removed](const TWaiting& waiting) {
        if (waiting.Entry.Client != client) {
            return false;
        }
        removed.push_back(waiting.Entry);
        return true;
    });
    LastTurn.erase(client);
    return removed;
}

void TLineQueue::Heard(TSlaveId slave, bool answered) {
    if (answered) {
        SilentSlaves.erase(slave);
        RefusalsLogged.erase(slave);
    } else {
        SilentSlaves.insert(slave);
    }
}

bool TLineQueue::FirstRefusalSinceSilent(TSlaveId slave) {
    return RefusalsLogged.insert(slave).second;
}
