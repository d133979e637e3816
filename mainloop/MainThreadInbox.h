#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Tasks handed from any thread to the thread that owns the inbox, run there in the order they
// were posted, from that thread's event loop. The hand-over is a plain mutex and the platform's
// wake-up of the event loop (an eventfd that a Qt notifier watches, or a message to a
// message-only window), so that thread checkers see it.
class TMainThreadInbox {
public:
    TMainThreadInbox();
    ~TMainThreadInbox();
    TMainThreadInbox(const TMainThreadInbox&) = delete;
    TMainThreadInbox& operator=(const TMainThreadInbox&) = delete;

    // False when the process had no wake-up left to give; nothing posted would run.
    bool Ready() const;
    // The system's error number of the failed wake-up, taken when it failed; 0 when Ready.
    int SetupError() const { return WakeError; }

    // Never blocks for longer than it takes to queue the task.
    void Post(std::function<void()> task);

    // Runs the tasks posted so far, and those they post; on the owning thread only. A writer on
    // that thread calls it first, so that its own line comes after those other threads wrote
    // before it. Called from within a task, it returns at once: the running call takes the new
    // tasks after the ones it holds, so the order of posting is kept.
    void RunPosted();

    // The platform's part (InboxWakeUp.h): PosixInboxWakeUp.cpp (Linux), Win32InboxWakeUp.cpp
    // (Windows).
    class TWakeUp;

private:
    // Set while the wake-up is made, so it comes first.
    int WakeError = 0;
    std::unique_ptr<TWakeUp> WakeUp;
    std::mutex Lock;
    std::vector<std::function<void()>> Tasks;
    // Owning thread only.
    bool Running = false;
};
