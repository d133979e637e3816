#include "StopSignals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace {

sigset_t StopSignalSet() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    return stopSignals;
}

}  // namespace

bool TStopSignals::BlockStopSignals() {
    const sigset_t stopSignals = StopSignalSet();
    return pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) == 0;
}

TStopSignals::TStopSignals(std::function<void()> onStop, QObject* parent)
    : QObject(parent), OnStop(std::move(onStop)) {
    const sigset_t stopSignals = StopSignalSet();
    SignalFd = signalfd(-1, &stopSignals, SFD_NONBLOCK | SFD_CLOEXEC);
    if (SignalFd < 0) {
        return;
    }
    Notifier = new QSocketNotifier(SignalFd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] {
        signalfd_siginfo received{};
        [[maybe_unused]] const ssize_t got = read(SignalFd, &received, sizeof received);
        OnStop();
    });
}

TStopSignals::~TStopSignals() {
    delete Notifier;
    if (SignalFd >= 0) {
        close(SignalFd);
    }
}
