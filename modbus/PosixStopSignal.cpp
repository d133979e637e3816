#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>

#include "StopSignal.h"

TStopSignal::TStopSignal() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) {
        setupError_ = errno;
    }
}

bool TStopSignal::Ready() const {
    return fd_ >= 0;
}

TStopSignal::~TStopSignal() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

void TStopSignal::Request() {
    requested_.store(true, std::memory_order_release);
    if (fd_ >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
    }
}

void TStopSignal::Reset() {
    requested_.store(false, std::memory_order_release);
    if (fd_ >= 0) {
        uint64_t value = 0;
        [[maybe_unused]] const ssize_t got = read(fd_, &value, sizeof value);
    }
}

bool TStopSignal::WaitFor(uint32_t milliseconds) const {
    return WaitForMicroseconds(uint64_t{milliseconds} * 1000U);
}

namespace {

constexpr std::chrono::microseconds kLastPartOfLongWait{200};

}  // namespace

bool TStopSignal::WaitForMicroseconds(uint64_t microseconds) const {
    const auto end = std::chrono::steady_clock::now() +
                     std::chrono::microseconds(static_cast<int64_t>(microseconds));
    while (!Requested()) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        // A long timed wait may end a tenth of a millisecond late; its last part, waited on its
        // own, ends closer to its time.
        if (left > kLastPartOfLongWait * 5) {
            left -= kLastPartOfLongWait;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const auto nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
        const timespec timeout{static_cast<time_t>(seconds.count()),
                               static_cast<long>(nanoseconds.count())};
        pollfd wake{fd_, POLLIN, 0};
        if (ppoll(&wake, 1, &timeout, nullptr) < 0 && errno != EINTR) {
            return !Requested();
        }
    }
    return false;
}

void TStopSignal::PreferPreciseWaitsOnThisThread() {
    // Linux lets a thread's timed waits run up to 50 us late by default; one microsecond.
    prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
}
