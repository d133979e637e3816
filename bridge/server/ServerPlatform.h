#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <thread>

#include "MonotonicClock.h"

// A client connection as the server core names it; ids are never reused, so a smaller id is an
// older connection. 0 names none.
using TConnectionId = uint64_t;

// What the server core needs of its platform's sockets, timers and event loop: Qt's on Linux,
// Winsock on a message-only window on Windows; a script of a test drives its own. Every call comes
// on the server's thread, except Post, which any thread may call.
class TServerPlatform {
public:
    virtual ~TServerPlatform() = default;

    // Moves up to size bytes that the connection holds into buffer; how many, 0 when it holds
    // none at the moment or is gone.
    virtual size_t Read(TConnectionId connection, char* buffer, size_t size) = 0;
    // Copies up to size of the bytes that the connection holds into buffer and leaves them there
    // for the next Read; how many.
    virtual size_t Peek(TConnectionId connection, char* buffer, size_t size) = 0;
    // True when the peer has closed or reset the connection though its closing has not reached
    // the core yet, or when the connection is gone.
    virtual bool PeerHasClosed(TConnectionId connection) = 0;
    // Sends the bytes whole, after those written before; nothing when the connection is gone.
    virtual void Write(TConnectionId connection, std::string_view bytes) = 0;
    // The bytes written that the platform still holds because the peer has not taken them (beyond
    // what the system's own buffers took); 0 when the connection is gone.
    virtual size_t Unsent(TConnectionId connection) = 0;
    // Closes the connection at once, dropping what it holds; its closing never reaches the core.
    virtual void Abort(TConnectionId connection) = 0;
    // A single-shot timer; starting a running one again moves it. Its end reaches the core as
    // TimerFired with the same number.
    virtual void StartTimer(uint64_t timer, int delayMs) = 0;
    virtual void StopTimer(uint64_t timer) = 0;
    // Runs the task on the server's thread, after those posted before; never waits for that
    // thread.
    virtual void Post(std::function<void()> task) = 0;
    // The time the timers run on, in milliseconds of a monotonic clock, and a pause of the
    // server's thread: the system's, unless a script drives the time.
    virtual uint64_t NowMs() { return MonotonicMs(); }
    virtual void Pause(int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};
