#include "MainThreadInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cstdint>

TMainThreadInbox::TMainThreadInbox(QObject* parent)
    : QObject(parent), WakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (WakeFd < 0) {
        return;
    }
    Notifier = new QSocketNotifier(WakeFd, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, [this] { RunPosted(); });
}

TMainThreadInbox::~TMainThreadInbox() {
    delete Notifier;
    if (WakeFd >= 0) {
        close(WakeFd);
    }
}

void TMainThreadInbox::Post(std::function<void()> task) {
    {
        const std::lock_guard guard(Lock);
        Tasks.push_back(std::move(task));
    }
    const uint64_t one = 1;
    // A full counter still wakes the reader, so a failed write loses nothing.
    [[maybe_unused]] const ssize_t written = write(WakeFd, &one, sizeof one);
}

void TMainThreadInbox::RunPosted() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(WakeFd, &count, sizeof count);
    std::vector<std::function<void()>> tasks;
    {
        const std::lock_guard guard(Lock);
        tasks.swap(Tasks);
    }
    for (auto& task : tasks) {
        task();
    }
}
