#include "MainThreadInbox.h"

#include "InboxWakeUp.h"

TMainThreadInbox::TMainThreadInbox() : WakeUp(TWakeUp::Make(*this, WakeError)) {}

TMainThreadInbox::~TMainThreadInbox() = default;

bool TMainThreadInbox::Ready() const {
    return WakeUp->Ready();
}

void TMainThreadInbox::Post(std::function<void()> task) {
    {
        const std::lock_guard guard(Lock);
        Tasks.push_back(std::move(task));
    }
    WakeUp->Wake();
}

void TMainThreadInbox::RunPosted() {
    // The wake-up is taken even when a task below is running, so that an event loop started
    // inside a task (a dialog) does not keep waking for tasks that the running call will take.
    WakeUp->Taken();
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
