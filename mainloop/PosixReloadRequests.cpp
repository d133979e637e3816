#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>

#include "ReloadRequests.h"

namespace {

sigset_t ReloadSignalSet() {
    sigset_t reloadSignals;
    sigemptyset(&reloadSignals);
    sigaddset(&reloadSignals, SIGHUP);
    return reloadSignals;
}

}  // namespace

// A signalfd for SIGHUP that a Qt notifier watches.
class TReloadRequests::TReceiver {
public:
    TReceiver(const std::function<void()>& onReload, std::string& error) {
        const sigset_t reloadSignals = ReloadSignalSet();
        SignalFd = signalfd(-1, &reloadSignals, SFD_NONBLOCK | SFD_CLOEXEC);
        if (SignalFd < 0) {
            error = std::string("signalfd: ") + std::strerror(errno);
            return;
        }
        Notifier = std::make_unique<QSocketNotifier>(SignalFd, QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                         [this, &onReload] {
                             signalfd_siginfo received{};
                             if (read(SignalFd, &received, sizeof received) == sizeof received) {
                                 onReload();
                             }
                         });
    }

    ~TReceiver() {
        Notifier.reset();
        if (SignalFd >= 0) {
            close(SignalFd);
        }
    }

    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;

    bool Ready() const { return SignalFd >= 0; }

private:
    int SignalFd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
};

bool TReloadRequests::Block() {
    const sigset_t reloadSignals = ReloadSignalSet();
    return pthread_sigmask(SIG_BLOCK, &reloadSignals, nullptr) == 0;
}

TReloadRequests::TReloadRequests(std::function<void()> onReload)
    : OnReload(std::move(onReload)), Receiver(std::make_unique<TReceiver>(OnReload, Error)) {}

TReloadRequests::~TReloadRequests() = default;

bool TReloadRequests::Ready() const {
    return Receiver->Ready();
}
