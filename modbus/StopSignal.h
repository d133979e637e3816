#pragma once

#include <atomic>
#include <cstdint>

// A stop request that every wait of the link wakes on. Request may come from any thread; Reset
// belongs to the owner while no wait is running. The wake-up object is the platform's: an eventfd
// on Linux (PosixStopSignal.cpp), a manual-reset event on Windows (Win32StopSignal.cpp).
class TStopSignal {
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;

    void Request();
    void Reset();
    bool Requested() const { return requested_.load(std::memory_order_acquire); }

    // False when the platform gave no wake-up object: a stop could then not wake a wait, so the
    // link must not be used. SetupError names the system's error of that moment (errno on Linux,
    // GetLastError on Windows), 0 when ready.
    bool Ready() const;
    int SetupError() const { return setupError_; }

    // Readable while a stop is requested, for poll beside another descriptor (Linux).
    int Fd() const { return fd_; }
    // Signalled while a stop is requested, for a wait beside another handle (Windows: a HANDLE).
    void* Event() const { return event_; }

    // Waits the whole time unless a stop is requested; true when the time ran out undisturbed.
    bool WaitFor(uint32_t milliseconds) const;
    // The same to the microsecond, also on a system whose timed waits end only on its timer tick;
    // for the short waits of the line's turnaround.
    bool WaitForMicroseconds(uint64_t microseconds) const;

    // Asks the system to end the calling thread's timed waits at their time, not the little
    // later that it may allow itself to save power: the pause after an exchange is counted
    // exactly. For the thread that drives the line.
    static void PreferPreciseWaitsOnThisThread();

private:
    int fd_ = -1;
    int setupError_ = 0;
    void* event_ = nullptr;
    std::atomic<bool> requested_{false};
};
