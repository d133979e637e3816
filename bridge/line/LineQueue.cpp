#include "LineQueue.h"

#include <algorithm>

bool TLineQueue::WaitsForSilentSlave(const TQueueEntry& entry) const {
    return entry.Slave && Silent(*entry.Slave);
}

TAdmission TLineQueue::Admit(const TQueueEntry& entry) {
    if (WaitsForSilentSlave(entry) &&
        std::any_of(Waiting.begin(), Waiting.end(), [&entry](const TQueueEntry& waiting) {
            return waiting.Slave == entry.Slave;
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
    Waiting.push_back(entry);
    return TAdmission::Queued;
}

std::optional<TQueueEntry> TLineQueue::TakeNext() {
    // Only each client's oldest request may go; of those, one for an answering slave first, then
    // the client whose turn is longest ago (one that came at a turn goes before the client served
    // at it), then the one that came first.
    auto best = Waiting.end();
    std::set<uint64_t> seen;
    const auto rank = [this](const TQueueEntry& entry) {
        const TClientTurn& turn = LastTurn.at(entry.Client);
        return std::make_tuple(WaitsForSilentSlave(entry), turn.Turn, turn.Served, entry.Ticket);
    };
    for (auto entry = Waiting.begin(); entry != Waiting.end(); ++entry) {
        if (!seen.insert(entry->Client).second) {
            continue;
        }
        if (best == Waiting.end() || rank(*entry) < rank(*best)) {
            best = entry;
        }
    }
    if (best == Waiting.end()) {
        return std::nullopt;
    }
    const TQueueEntry next = *best;
    Waiting.erase(best);
    LastTurn[next.Client] = TClientTurn{++Turn, true};
    return next;
}

std::vector<TQueueEntry> TLineQueue::TakeExpired(uint64_t nowMs) {
    std::vector<TQueueEntry> expired;
    const auto over = [this, nowMs](const TQueueEntry& entry) {
        return nowMs - entry.ArrivedMs >= WaitMs;
    };
    std::copy_if(Waiting.begin(), Waiting.end(), std::back_inserter(expired), over);
    std::erase_if(Waiting, over);
    return expired;
}

std::optional<uint64_t> TLineQueue::NextExpiryMs() const {
    if (Waiting.empty()) {
        return std::nullopt;
    }
    const auto oldest = std::min_element(
        Waiting.begin(), Waiting.end(),
        [](const TQueueEntry& a, const TQueueEntry& b) { return a.ArrivedMs < b.ArrivedMs; });
    return oldest->ArrivedMs + WaitMs;
}

std::vector<TQueueEntry> TLineQueue::RemoveClient(uint64_t client) {
    std::vector<TQueueEntry> removed;
    const auto ours = [client](const TQueueEntry& entry) { return entry.Client == client; };
    std::copy_if(Waiting.begin(), Waiting.end(), std::back_inserter(removed), ours);
    std::erase_if(Waiting, ours);
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
