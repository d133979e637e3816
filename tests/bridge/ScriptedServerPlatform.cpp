#include "ScriptedServerPlatform.h"

#include <algorithm>

#include "ServerCore.h"

TConnectionId TScriptedServerPlatform::Connect(const std::string& peer) {
    const TConnectionId id = Core->Accepted(peer);
    Connections[id];
    return id;
}

TConnectionId TScriptedServerPlatform::ConnectModbus(const std::string& peer) {
    const TConnectionId id = Core->AcceptedModbus(peer);
    if (id != 0) {
        Connections[id];
    }
    return id;
}

void TScriptedServerPlatform::Send(TConnectionId connection, std::string_view bytes) {
    Connections.at(connection).Input.append(bytes);
    Core->DataArrived(connection);
}

void TScriptedServerPlatform::PeerCloses(TConnectionId connection, bool news) {
    TConnection& closing = Connections.at(connection);
    closing.PeerClosed = true;
    if (news && !closing.Gone) {
        closing.Gone = true;
        Core->Closed(connection);
    }
}

std::string TScriptedServerPlatform::TakeWritten(TConnectionId connection) {
    std::string written;
    written.swap(Connections.at(connection).Written);
    return written;
}

bool TScriptedServerPlatform::Open(TConnectionId connection) const {
    const auto found = Connections.find(connection);
    return found != Connections.end() && !found->second.Gone && !found->second.PeerClosed;
}

size_t TScriptedServerPlatform::RunPosted() {
    std::vector<std::function<void()>> tasks;
    {
        const std::lock_guard guard(PostLock);
        tasks.swap(Posted);
    }
    for (const auto& task : tasks) {
        task();
    }
    return tasks.size();
}

void TScriptedServerPlatform::Advance(uint64_t milliseconds) {
    const uint64_t until = Now + milliseconds;
    for (;;) {
        const auto next = std::min_element(
            Timers.begin(), Timers.end(),
            [](const auto& one, const auto& other) { return one.second < other.second; });
        if (next == Timers.end() || next->second > until) {
            break;
        }
        const uint64_t timer = next->first;
        Now = std::max(Now, next->second);
        Timers.erase(next);
        Core->TimerFired(timer);
    }
    Now = until;
}

TScriptedServerPlatform::TConnection* TScriptedServerPlatform::Find(TConnectionId connection) {
    const auto found = Connections.find(connection);
    return found == Connections.end() || found->second.Gone ? nullptr : &found->second;
}

size_t TScriptedServerPlatform::Read(TConnectionId connection, char* buffer, size_t size) {
    TConnection* client = Find(connection);
    if (client == nullptr) {
        return 0;
    }
    const size_t taken = std::min(size, client->Input.size());
    std::copy_n(client->Input.begin(), taken, buffer);
    client->Input.erase(0, taken);
    return taken;
}

size_t TScriptedServerPlatform::Peek(TConnectionId connection, char* buffer, size_t size) {
    const TConnection* client = Find(connection);
    if (client == nullptr) {
        return 0;
    }
    const size_t copied = std::min(size, client->Input.size());
    std::copy_n(client->Input.begin(), copied, buffer);
    return copied;
}

bool TScriptedServerPlatform::PeerHasClosed(TConnectionId connection) {
    const TConnection* client = Find(connection);
    return client == nullptr || client->PeerClosed;
}

size_t TScriptedServerPlatform::Unsent(TConnectionId connection) {
    const TConnection* found = Find(connection);
    return found != nullptr ? found->Written.size() : 0;
}

void TScriptedServerPlatform::Write(TConnectionId connection, std::string_view bytes) {
    const auto found = Connections.find(connection);
    if (found == Connections.end() || found->second.Gone) {
        ++StrayWrites;
        return;
    }
    found->second.Written.append(bytes);
}

void TScriptedServerPlatform::Abort(TConnectionId connection) {
    if (TConnection* client = Find(connection)) {
        client->Gone = true;
    }
}

void TScriptedServerPlatform::StartTimer(uint64_t timer, int delayMs) {
    Timers[timer] = Now + static_cast<uint64_t>(std::max(delayMs, 0));
}

void TScriptedServerPlatform::Post(std::function<void()> task) {
    const std::lock_guard guard(PostLock);
    Posted.push_back(std::move(task));
}
