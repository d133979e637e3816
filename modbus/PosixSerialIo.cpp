// termios2 comes from the kernel headers, which clash with <termios.h>: this file uses ioctl only.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "MonotonicClock.h"
#include "SerialIo.h"
#include "StopSignal.h"
#include "TransmitDrain.h"

namespace {

struct TRateCode {
    int32_t Baud;
    tcflag_t Code;
};

constexpr TRateCode kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

tcflag_t StandardRateCode(int32_t baud) {
    for (const TRateCode& rate : kStandardRates) {
        if (rate.Baud == baud) {
            return rate.Code;
        }
    }
    return BOTHER;
}

// Polls the port for the events and the stop signal; true when the port is ready.
bool WaitForPort(int fd, short events, const TStopSignal& stop, const TDeadline& deadline,
                 short& revents) {
    for (;;) {
        if (stop.Requested()) {
            return false;
        }
        pollfd fds[2] = {{fd, events, 0}, {stop.Fd(), POLLIN, 0}};
        const int ready = poll(fds, 2, deadline.RemainingMs());
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (ready == 0 || stop.Requested()) {
            return false;
        }
        if (fds[0].revents != 0) {
            revents = fds[0].revents;
            return true;
        }
    }
}

// The failing call and errno, sorted into the cause the operator can act on.
TOpenFailure SystemFailure(const char* call, int error) {
    TOpenCause cause = TOpenCause::Other;
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
        case ENOTDIR:
            cause = TOpenCause::NoDevice;
            break;
        case EACCES:
        case EPERM:
        case EROFS:
            cause = TOpenCause::NoAccess;
            break;
        // EBUSY: another program set TIOCEXCL; EWOULDBLOCK: it holds the flock.
        case EBUSY:
        case EWOULDBLOCK:
            cause = TOpenCause::Busy;
            break;
        case ENOTTY:
            cause = TOpenCause::NotSerial;
            break;
        default:
            break;
    }
    return {cause, std::string(call) + ": " + std::strerror(error)};
}

class TPosixSerialIo final : public TSerialIo {
public:
    ~TPosixSerialIo() override { Close(); }

    bool Open(const std::string& path, int32_t baud, TOpenFailure& failure) override {
        Close();
        if (baud <= 0) {
            failure = {TOpenCause::Speed, std::to_string(baud) + " baud"};
            return false;
        }
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            failure = SystemFailure("open", errno);
            return false;
        }
        if (ioctl(fd_, TIOCEXCL) != 0) {
            failure = SystemFailure("TIOCEXCL", errno);
        } else if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            failure = SystemFailure("flock", errno);
        } else {
            failure = Configure(baud);
        }
        if (failure.Cause != TOpenCause::None) {
            Close();
            return false;
        }
        baud_ = baud;
        return true;
    }

    bool Close() override {
        if (fd_ < 0) {
            return false;
        }
        // Unsent output would hold close() for as long as the driver's closing wait. Output is
        // dropped only when the driver still holds some: on a pseudo-terminal the flush would
        // also drop a request the peer has not read yet.
        int pending = 0;
        const bool outputPending = ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending > 0;
        ioctl(fd_, TCFLSH, outputPending ? TCIOFLUSH : TCIFLUSH);
        ioctl(fd_, TIOCNXCL);
        const bool closed = close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

    bool IsOpen() const override { return fd_ >= 0; }

    bool Discard(bool input, bool output) override {
        if (fd_ < 0) {
            return false;
        }
        if (!input && !output) {
            return true;
        }
        const int queue = input && output ? TCIOFLUSH : (input ? TCIFLUSH : TCOFLUSH);
        return ioctl(fd_, TCFLSH, queue) == 0;
    }

    bool SetModemLine(TModemLine line, bool raised) override {
        if (fd_ < 0) {
            return false;
        }
        const int bits = line == TModemLine::Dtr ? TIOCM_DTR : TIOCM_RTS;
        return ioctl(fd_, raised ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    }

    bool Write(const uint8_t* data, size_t count, size_t& written, uint32_t limitMs,
               const TStopSignal& stop) override {
        written = 0;
        if (fd_ < 0) {
            return false;
        }
        const TDeadline deadline(limitMs);
        while (written < count) {
            const ssize_t sent = write(fd_, data + written, count - written);
            if (sent > 0) {
                written += static_cast<size_t>(sent);
                continue;
            }
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            short revents = 0;
            if (sent == 0 || errno != EAGAIN ||
                !WaitForPort(fd_, POLLOUT, stop, deadline, revents) ||
                (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
        }
        return WaitUntilSent([this] { return OutputState(); }, count, baud_, stop, deadline);
    }

    bool Read(uint8_t* buffer, size_t capacity, uint32_t waitMs, size_t& got,
              const TStopSignal& stop) override {
        got = 0;
        if (fd_ < 0) {
            return false;
        }
        const TDeadline deadline(waitMs);
        short revents = 0;
        if (!WaitForPort(fd_, POLLIN, stop, deadline, revents)) {
            return false;
        }
        int held = 0;
        if (ioctl(fd_, FIONREAD, &held) != 0 || held <= 0 || static_cast<size_t>(held) > capacity) {
            return false;
        }
        const ssize_t taken = read(fd_, buffer, static_cast<size_t>(held));
        if (taken <= 0) {
            return false;
        }
        got = static_cast<size_t>(taken);
        return true;
    }

private:
    TOpenFailure Configure(int32_t baud) {
        termios2 settings{};
        if (ioctl(fd_, TCGETS2, &settings) != 0) {
            return SystemFailure("TCGETS2", errno);
        }
        settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR |
                                                   IGNCR | ICRNL | INPCK | IUCLC | IMAXBEL);
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CBAUD | CIBAUD);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        const tcflag_t rateCode = StandardRateCode(baud);
        settings.c_cflag |= rateCode;
        settings.c_ispeed = static_cast<speed_t>(baud);
        settings.c_ospeed = static_cast<speed_t>(baud);
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        if (ioctl(fd_, TCSETS2, &settings) != 0) {
            const int error = errno;
            TOpenFailure failure = SystemFailure("TCSETS2", error);
            if (error == EINVAL) {
                failure.Cause = TOpenCause::Speed;
            }
            return failure;
        }
        // The driver may adjust what it cannot do; a rate it did not take is a failure.
        termios2 applied{};
        if (ioctl(fd_, TCGETS2, &applied) != 0) {
            return SystemFailure("TCGETS2", errno);
        }
        const bool taken =
            rateCode != BOTHER ? (applied.c_cflag & CBAUD) == rateCode : applied.c_ospeed != 0;
        if (!taken) {
            return {TOpenCause::Speed, std::to_string(baud) + " baud"};
        }
        return {};
    }

    // The driver's output queue, and its transmitter where it can tell: the UART drivers can (their
    // line status), USB adapters and pseudo-terminals cannot.
    TOutputState OutputState() const {
        TOutputState state;
        int queued = 0;
        if (ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0) {
            state.Queued = static_cast<uint64_t>(queued);
        }
        unsigned int lineStatus = 0;
        if (ioctl(fd_, TIOCSERGETLSR, &lineStatus) == 0) {
            state.Transmitter =
                (lineStatus & TIOCSER_TEMT) != 0 ? TTransmitter::Empty : TTransmitter::Busy;
        }
        return state;
    }

    int fd_ = -1;
    int32_t baud_ = 9600;
};

}  // namespace

std::unique_ptr<TSerialIo> MakePlatformSerialIo() {
    return std::make_unique<TPosixSerialIo>();
}

std::string PlatformPortPath(uint8_t port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}
