// The simulated slave program: a pseudo-terminal, the signals that end it, and the loop that
// feeds received bytes to the framer, the device and the wire planner.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "Hex.h"
#include "MonotonicClock.h"
#include "PtyLineSpeed.h"
#include "RequestFramer.h"
#include "SimBus.h"
#include "SimOptions.h"
#include "WirePlan.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// A partial frame is dropped once the line has been quiet this long.
constexpr uint64_t kQuietMs = 100;

void PrintError(const std::string& what) {
    std::fprintf(stderr, "modbus-sim: %s\n", what.c_str());
}

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void PrintEvent(const char* kind, std::span<const uint8_t> bytes) {
    PrintLine(std::string(kind) + ' ' + HexText(bytes));
}

class TDescriptor {
public:
    TDescriptor() = default;
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor() { Reset(-1); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct TPty {
    TDescriptor Master;
    // Held open for the program's whole life and never read: while it is open, the master side
    // does not see a hang-up each time a client closes the port.
    TDescriptor Slave;
    std::string Path;
};

bool OpenPty(TPty& pty, std::string& error) {
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        error = SystemError("openpty");
        return false;
    }
    pty.Master.Reset(master);
    pty.Slave.Reset(slave);
    std::array<char, 256> name{};
    if (ttyname_r(slave, name.data(), name.size()) != 0) {
        error = SystemError("ttyname");
        return false;
    }
    pty.Path = name.data();
    // Raw mode: the line discipline would otherwise echo requests back and mangle bytes.
    termios attributes{};
    if (tcgetattr(slave, &attributes) != 0) {
        error = SystemError("tcgetattr");
        return false;
    }
    cfmakeraw(&attributes);
    if (tcsetattr(slave, TCSANOW, &attributes) != 0) {
        error = SystemError("tcsetattr");
        return false;
    }
    const int flags = fcntl(master, F_GETFL);
    if (flags < 0 || fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(master, F_SETFD, FD_CLOEXEC) != 0 || fcntl(slave, F_SETFD, FD_CLOEXEC) != 0) {
        error = SystemError("fcntl");
        return false;
    }
    return true;
}

// A symbolic link to the terminal, removed again when the program ends.
class TLink {
public:
    TLink() = default;
    ~TLink() {
        if (path_.empty()) {
            return;
        }
        // Another program may have taken the name over meanwhile; its link stays.
        std::array<char, 256> target{};
        const ssize_t length = readlink(path_.c_str(), target.data(), target.size() - 1);
        if (length > 0 && std::string(target.data(), static_cast<size_t>(length)) == target_) {
            unlink(path_.c_str());
        }
    }
    TLink(const TLink&) = delete;
    TLink& operator=(const TLink&) = delete;

    bool Create(const std::string& path, const std::string& target, std::string& error) {
        struct stat status {};
        if (lstat(path.c_str(), &status) == 0) {
            if (!S_ISLNK(status.st_mode)) {
                error = "refusing to replace " + path + ": not a symbolic link";
                return false;
            }
            if (unlink(path.c_str()) != 0) {
                error = SystemError("unlink " + path);
                return false;
            }
        }
        if (symlink(target.c_str(), path.c_str()) != 0) {
            error = SystemError("symlink " + path);
            return false;
        }
        path_ = path;
        target_ = target;
        return true;
    }

private:
    std::string path_;
    std::string target_;
};

// SIGINT and SIGTERM arrive on a descriptor, so every wait of the program can watch for them.
int OpenSignalFd() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return -1;
    }
    return signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
}

// Waits the whole time unless a stop signal comes; true when the time ran out undisturbed. With
// a line given, bytes that arrive on it meanwhile stay unread and set arrived.
bool WaitUnlessStopped(int signalFd, uint32_t milliseconds, int line = -1,
                       bool* arrived = nullptr) {
    const TDeadline deadline(milliseconds);
    for (;;) {
        const int remaining = deadline.RemainingMs();
        if (remaining == 0) {
            return true;
        }
        // poll passes over a negative descriptor: the line is watched until bytes come.
        std::array<pollfd, 2> fds = {
            {{signalFd, POLLIN, 0}, {arrived != nullptr && !*arrived ? line : -1, POLLIN, 0}}};
        const int ready = poll(fds.data(), fds.size(), remaining);
        if (ready > 0 && fds[0].revents != 0) {
            return false;
        }
        if (ready > 0) {
            *arrived = true;
            continue;
        }
        if (ready < 0 && errno != EINTR) {
            return true;
        }
    }
}

// Writes without blocking; what the terminal cannot take now is dropped, as on a line nobody
// listens to.
void WriteChunk(int master, std::span<const uint8_t> bytes, bool verbose) {
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(master, bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    if (verbose && written > 0) {
        PrintEvent("tx", bytes.first(written));
    }
}

// A real slave takes a request as complete only after 3.5 character times (of 11 bits) of
// silence, fixed at 1.75 ms above 19200 baud; the answer never starts earlier. Rounded up to ms.
uint32_t TurnaroundMs(std::optional<uint32_t> baud) {
    constexpr uint32_t kFixedAbove = 19200;
    if (!baud || *baud > kFixedAbove) {
        return 2;
    }
    return (38500 + *baud - 1) / *baud;
}

int Serve(const TSimOptions& options, const TPty& pty, int signalFd) {
    const int master = pty.Master.Get();
    TRequestFramer framer;
    const std::vector<TSlaveSetup> slaves = LineSlaves(options);
    TSimBus bus(options.Device, slaves);
    // Each slave shapes its own answers; the first also gives the echo of requests nobody
    // answers, since the adapter echoes whoever listens.
    std::vector<TWirePlanner> planners;
    std::random_device seeds;
    for (const TSlaveSetup& slave : slaves) {
        planners.emplace_back(slave.Address, options.Faults, seeds());
    }
    const uint64_t startMs = MonotonicMs();
    uint64_t lastReceiveMs = startMs;
    std::array<uint8_t, 4096> buffer{};
    for (;;) {
        int timeout = -1;
        if (framer.Held() > 0) {
            const uint64_t expiry = lastReceiveMs + kQuietMs + 1;
            const uint64_t now = MonotonicMs();
            timeout = now >= expiry ? 0 : static_cast<int>(expiry - now);
        }
        std::array<pollfd, 2> fds = {{{signalFd, POLLIN, 0}, {master, POLLIN, 0}}};
        const int ready = poll(fds.data(), fds.size(), timeout);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            PrintError(SystemError("poll"));
            return kExitFailure;
        }
        if (fds[0].revents != 0) {
            return 0;
        }
        if (ready == 0) {
            if (MonotonicMs() - lastReceiveMs > kQuietMs) {
                framer.Expire();
            }
            continue;
        }
        const ssize_t got = read(master, buffer.data(), buffer.size());
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (got <= 0) {
            PrintError(got < 0 ? SystemError("read") : "the terminal closed");
            return kExitFailure;
        }
        lastReceiveMs = MonotonicMs();
        const std::vector<TFrame> frames =
            framer.Push(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)));
        for (size_t index = 0; index < frames.size(); ++index) {
            const TFrame& frame = frames[index];
            if (options.Verbose) {
                PrintEvent("rx", frame);
            }
            const std::optional<uint32_t> baud = LineBaud(pty.Slave.Get());
            const TBusAnswer heard = bus.Hear(frame, baud.value_or(0), MonotonicMs() - startMs);
            uint32_t turnaround = TurnaroundMs(baud);
            const std::vector<TChunk> chunks =
                planners[heard.Slave.value_or(0)].Plan(frame, heard.Answer);
            // A master that sends before the line is free: the next frame came with this one, or
            // comes while this one is answered.
            bool overlapped = !chunks.empty() && index + 1 < frames.size();
            for (const TChunk& chunk : chunks) {
                const uint32_t wait = chunk.WaitMs + turnaround;
                turnaround = 0;
                if (wait > 0 && !WaitUnlessStopped(signalFd, wait, master, &overlapped)) {
                    return 0;
                }
                WriteChunk(master, chunk.Bytes, options.Verbose);
            }
            if (overlapped && options.Verbose) {
                PrintEvent("overlap", frame);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const TParsedOptions parsed = ParseOptions(args);
    if (!parsed.Error.empty()) {
        PrintError(parsed.Error + " (--help lists the options)");
        return kExitUsage;
    }
    const TSimOptions& options = parsed.Options;
    if (options.Help) {
        std::fwrite(HelpText().data(), 1, HelpText().size(), stdout);
        return 0;
    }
    // A reader that goes away must not end the program through SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    const TDescriptor signalFd(OpenSignalFd());
    if (signalFd.Get() < 0) {
        PrintError(SystemError("signalfd"));
        return kExitFailure;
    }
    TPty pty;
    std::string error;
    if (!OpenPty(pty, error)) {
        PrintError(error);
        return kExitFailure;
    }
    TLink link;
    if (!options.LinkPath.empty() && !link.Create(options.LinkPath, pty.Path, error)) {
        PrintError(error);
        return kExitFailure;
    }
    PrintLine(pty.Path);
    return Serve(options, pty, signalFd.Get());
}
