#include <windows.h>

#include "MonotonicClock.h"
#include "StopSignal.h"

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
