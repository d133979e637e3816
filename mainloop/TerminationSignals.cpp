#include "TerminationSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

namespace {

sigset_t TerminationSignalSet() {
    sigset_t terminationSignals;
    sigemptyset(&terminationSignals);
    sigaddset(&terminationSignals, SIGINT);
    sigaddset(&terminationSignals, SIGTERM);
    return terminationSignals;
}

}  // namespace

bool TTerminationSignals::Block() {
    const sigset_t terminationSignals = TerminationSignalSet();
    return pthread_sigmask(SIG_BLOCK, &terminationSignals, nullptr) == 0;
}

TTerminationSignals::TTerminationSignals(std::function<void()> onStop, QObject* parent)
    : QObject(parent), OnStop(std::move(onStop)) {
    const sigset_t terminationSignals = TerminationSignalSet();
    SignalFd = signalfd(-1, &terminationSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (SignalFd < 0) {
        Error = std::string("signalfd: ") + std::strerror(errno);
        return;
    }
    Notifier = new QSocketNotifier(SignalFd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo received{};
        [[maybe_unused]] const ssize_t got = read(SignalFd, &received, sizeof received);
        OnStop();
    });
}

TTerminationSignals::~TTerminationSignals() {
    delete Notifier;
    if (SignalFd >= 0) {
        close(SignalFd);
    }
}
