// The inbox's wake-up on Linux: an eventfd that a Qt notifier watches.
#include <sys/eventfd.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>

#include "InboxWakeUp.h"

namespace {

class TEventfdWakeUp final : public TMainThreadInbox::TWakeUp {
public:
    TEventfdWakeUp(TMainThreadInbox& inbox, int& error)
        : WakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (WakeFd < 0) {
            error = errno;
            return;
        }
        Notifier = std::make_unique<QSocketNotifier>(WakeFd, QSocketNotifier::Read);
        QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                         [&inbox] { inbox.RunPosted(); });
    }

    ~TEventfdWakeUp() override {
        Notifier.reset();
        if (WakeFd >= 0) {
            close(WakeFd);
        }
    }

    bool Ready() const override { return WakeFd >= 0; }

    void Wake() override {
        const uint64_t one = 1;
        // A full counter still wakes the reader, so a failed write loses nothing.
        [[maybe_unused]] const ssize_t written = write(WakeFd, &one, sizeof one);
    }

    void Taken() override {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t got = read(WakeFd, &count, sizeof count);
    }

private:
    int WakeFd = -1;
    std::unique_ptr<QSocketNotifier> Notifier;
};

}  // namespace

std::unique_ptr<TMainThreadInbox::TWakeUp> TMainThreadInbox::TWakeUp::Make(TMainThreadInbox& inbox,
                                                                           int& error) {
    return std::make_unique<TEventfdWakeUp>(inbox, error);
}
