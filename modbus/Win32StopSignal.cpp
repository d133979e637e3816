#include <windows.h>

#include <chrono>

#include "MonotonicClock.h"
#include "StopSignal.h"

namespace {

// Timed waits of Windows end on the system's timer tick, 15.6 ms unless a program asked for a
// finer one: far too late for the turnaround of a line whose device answers within two
// milliseconds. A precise wait sleeps while more than a tick is left and spins through the rest
// on the processor: giving the processor away instead overshoots by milliseconds on a busy one.
constexpr std::chrono::microseconds kTimerTick{16000};

}  // namespace

// A manual-reset event: it stays signalled from Request until Reset, so every wait that starts in
// between ends at once, as a readable eventfd does on Linux.
TStopSignal::TStopSignal() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    if (event_ == nullptr) {
        setupError_ = static_cast<int>(GetLastError());
    }
}

TStopSignal::~TStopSignal() {
    if (event_ != nullptr) {
        CloseHandle(event_);
    }
}

bool TStopSignal::Ready() const {
    return event_ != nullptr;
}

void TStopSignal::Request() {
    requested_.store(true, std::memory_order_release);
    if (event_ != nullptr) {
        SetEvent(event_);
    }
}

void TStopSignal::Reset() {
    requested_.store(false, std::memory_order_release);
    if (event_ != nullptr) {
        ResetEvent(event_);
    }
}

bool TStopSignal::WaitFor(uint32_t milliseconds) const {
    const TDeadline deadline(milliseconds);
    while (!Requested()) {
        const int remaining = deadline.RemainingMs();
        if (remaining == 0) {
            return true;
        }
        if (event_ == nullptr) {
            Sleep(static_cast<DWORD>(remaining));
            continue;
        }
        if (WaitForSingleObject(event_, static_cast<DWORD>(remaining)) == WAIT_FAILED) {
            return !Requested();
        }
    }
    return false;
}

bool TStopSignal::WaitForMicroseconds(uint64_t microseconds) const {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end =
        Clock::now() + std::chrono::microseconds(static_cast<int64_t>(microseconds));
    while (!Requested()) {
        const Clock::duration left = end - Clock::now();
        if (left <= Clock::duration::zero()) {
            return true;
        }
        const auto sleepMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(left - kTimerTick);
        if (sleepMs.count() <= 0) {
            YieldProcessor();
        } else if (event_ == nullptr) {
            Sleep(static_cast<DWORD>(sleepMs.count()));
        } else if (WaitForSingleObject(event_, static_cast<DWORD>(sleepMs.count())) ==
                   WAIT_FAILED) {
            return !Requested();
        }
    }
    return false;
}

void TStopSignal::PreferPreciseWaitsOnThisThread() {
    // Nothing to ask: WaitForMicroseconds already spends the last timer tick awake.
}
