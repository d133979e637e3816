#pragma once

#include <atomic>
#include <cstdint>

// A stop request that every wait of the link wakes on. Request may come from any thread; Reset
// belongs to the owner while no wait is running.
class TStopSignal {
public:
    TStopSignal();
    ~TStopSignal();
    TStopSignal(const TStopSignal&) = delete;
    TStopSignal& operator=(const TStopSignal&) = delete;

    void Request();
    void Reset();
    bool Requested() const { return requested_.load(std::memory_order_acquire); }

    // 0, or the error number of the failed eventfd: without its descriptor a stop cannot wake a
    // wait, so a program must not run its link.
    int SetupError() const { return setupError_; }

    // Readable while a stop is requested, for poll beside another descriptor.
    int Fd() const { return fd_; }

    // Waits the whole time unless a stop is requested; true when the time ran out undisturbed.
    bool WaitFor(uint32_t milliseconds) const;

private:
    int fd_ = -1;
    int setupError_ = 0;
    std::atomic<bool> requested_{false};
};
