#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ServerPlatform.h"

class TServerCore;

// The server core's platform as a test's script drives it: clients whose bytes and closings the
// script delivers, a clock that moves only when the script moves it, timers on that clock, and
// the tasks the worker posts, run when the script says. The same events in the same order on
// every platform and every run, where real sockets deliver them as the system pleases.
class TScriptedServerPlatform final : public TServerPlatform {
public:
    void Attach(TServerCore& core) { Core = &core; }

    // A client connects; the id the core gave it.
    TConnectionId Connect(const std::string& peer = "127.0.0.1");
    // A client connects to the Modbus TCP port; 0 when the core refused it.
    TConnectionId ConnectModbus(const std::string& peer = "127.0.0.1");
    // The bytes arrive, and the core hears of them.
    void Send(TConnectionId connection, std::string_view bytes);
    // The peer closes. With the news the core hears of it at once; without, it learns of it only
    // by asking, as when the closing waits behind other events in the queue.
    void PeerCloses(TConnectionId connection, bool news = true);
    // What the server wrote to the connection since the last call.
    std::string TakeWritten(TConnectionId connection);
    // True while the core holds the connection: neither closed by its peer nor aborted.
    bool Open(TConnectionId connection) const;
    // Runs the tasks posted so far (the worker's hand-overs), in order; how many ran.
    size_t RunPosted();
    // Moves the clock on, firing on the way each timer that falls due, at its time.
    void Advance(uint64_t milliseconds);

    // Writes to a connection whose closing the core had heard of, or that it had aborted.
    size_t StrayWrites = 0;

    size_t Read(TConnectionId connection, char* buffer, size_t size) override;
    size_t Peek(TConnectionId connection, char* buffer, size_t size) override;
    bool PeerHasClosed(TConnectionId connection) override;
    void Write(TConnectionId connection, std::string_view bytes) override;
    // What the server wrote that the client has not taken (TakeWritten).
    size_t Unsent(TConnectionId connection) override;
    void Abort(TConnectionId connection) override;
    void StartTimer(uint64_t timer, int delayMs) override;
    void StopTimer(uint64_t timer) override { Timers.erase(timer); }
    void Post(std::function<void()> task) override;
    uint64_t NowMs() override { return Now; }
    // The thread sleeps: time passes, and timers that fall due meanwhile fire after it.
    void Pause(int milliseconds) override { Now += static_cast<uint64_t>(milliseconds); }

private:
    struct TConnection {
        std::string Input;
        std::string Written;
        bool PeerClosed = false;
        // The core heard of its closing, or aborted it.
        bool Gone = false;
    };

    TConnection* Find(TConnectionId connection);

    TServerCore* Core = nullptr;
    std::map<TConnectionId, TConnection> Connections;
    // Each running timer's time.
    std::map<uint64_t, uint64_t> Timers;
    // Far from 0, as a monotonic clock is.
    uint64_t Now = 1'000'000;
    std::mutex PostLock;
    std::vector<std::function<void()>> Posted;
};
