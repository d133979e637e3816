#include "PtyClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "PtyRate.h"

namespace {

constexpr int kSendBoundMs = 5000;

int RemainingMs(std::chrono::steady_clock::time_point end) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

bool TPtyClient::Open(const std::string& path, bool asIs) {
    Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        return false;
    }
    if (asIs) {
        return true;
    }
    termios settings{};
    if (tcgetattr(fd_, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    cfsetspeed(&settings, B19200);
    settings.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd_, TCSANOW, &settings) == 0 && tcflush(fd_, TCIOFLUSH) == 0;
}

void TPtyClient::Close() {
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

bool TPtyClient::SetBaud(uint32_t baud) {
    return fd_ >= 0 && SetPtyRate(fd_, baud);
}

bool TPtyClient::Send(const TBytes& bytes) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kSendBoundMs);
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd writable{fd_, POLLOUT, 0};
        if (poll(&writable, 1, RemainingMs(end)) == 0) {
            return false;
        }
    }
    return true;
}

TBytes TPtyClient::Receive(size_t count, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    TBytes received;
    while (received.size() < count) {
        pollfd readable{fd_, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(end));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            break;
        }
        uint8_t buffer[4096];
        const size_t wanted = std::min(sizeof buffer, count - received.size());
        const ssize_t got = read(fd_, buffer, wanted);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), buffer, buffer + got);
    }
    return received;
}

bool TPtyClient::StaysQuiet(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        pollfd readable{fd_, POLLIN, 0};
        const int ready = poll(&readable, 1, RemainingMs(end));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready == 0;
    }
}
