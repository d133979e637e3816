#include "MainThreadInbox.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>

TMainThreadInbox::TMainThreadInbox(QObject* parent)
    : QObject(parent), WakeFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (WakeFd < 0) {
        WakeError = errno;
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
    // The wake-up is taken even when a task below is running, so that an event loop started
    // inside a task (a dialog) does not keep waking for tasks that the running call will take.
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(WakeFd, &count, sizeof count);
    if (Running) {
        return;
    }
    Running = true;
    const struct TRunningMark {
        bool& Running;
        ~TRunningMark() { Running = false; }
    } mark{Running};
    for (;;) {
        std::vector<std::function<void()>> tasks;
        {
            const std::lock_guard guard(Lock);
            tasks.swap(Tasks);
        }
        if (tasks.empty()) {
            return;
        }
        for (auto& task : tasks) {
            task();
        }
    }
}
