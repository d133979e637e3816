#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "TerminationSignals.h"

namespace {

sigset_t TerminationSignalSet() {
    sigset_t terminationSignals;
    sigemptyset(&terminationSignals);
    sigaddset(&terminationSignals, SIGINT);
    sigaddset(&terminationSignals, SIGTERM);
    return terminationSignals;
}

}  // namespace

// A signalfd that a Qt notifier watches.
class TTerminationSignals::TReceiver {
public:
    TReceiver(const std::function<void()>& onStop, std::string& error) {
        const sigset_t terminationSignals = TerminationSignalSet();
        SignalFd = signalfd(-1, &terminationSignals, SFD_NONBLOCK | SFD_CLOEXEC);
        if (SignalFd < 0) {
            error = std::string("signalfd: ") + std::strerror(errno);
            return;
        }
        Notifier = std::make_unique<QSocketNotifier>(SignalFd, QSocketNotifier::Read);
        QObject::connect(
            Notifier.get(), &QSocketNotifier::activated, Notifier.get(), [this, &onStop] {
                signalfd_siginfo received{};
                [[maybe_unused]] const ssize_t got = read(SignalFd, &received, sizeof received);
                onStop();
            });
    }

    ~TReceiver() {
        Notifier.reset();
        if (SignalFd >= 0) {
            close(SignalFd);
        }
    }

    bool Ready() const { return SignalFd >= 0; }

private:
    int SignalFd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
};

bool TTerminationSignals::Block() {
    const sigset_t terminationSignals = TerminationSignalSet();
    return pthread_sigmask(SIG_BLOCK, &terminationSignals, nullptr) == 0;
}

TTerminationSignals::TTerminationSignals(std::function<void()> onStop)
    : OnStop(std::move(onStop)), Receiver(std::make_unique<TReceiver>(OnStop, Error)) {}

TTerminationSignals::~TTerminationSignals() = default;

bool TTerminationSignals::Ready() const {
    return Receiver->Ready();
}
