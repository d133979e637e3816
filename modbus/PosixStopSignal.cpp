#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

#include "MonotonicClock.h"
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
    const TDeadline deadline(milliseconds);
    while (!Requested()) {
        const int remaining = deadline.RemainingMs();
        if (remaining == 0) {
            return true;
        }
        pollfd wake{fd_, POLLIN, 0};
        if (poll(&wake, 1, remaining) < 0 && errno != EINTR) {
            return !Requested();
        }
    }
    return false;
}
