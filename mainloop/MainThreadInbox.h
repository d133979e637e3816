#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

class QSocketNotifier;

// Tasks handed from any thread to the thread that owns the inbox, run there in the order they
// were posted. The hand-over is a plain mutex and an eventfd, so that thread checkers see it.
class TMainThreadInbox : public QObject {
public:
    explicit TMainThreadInbox(QObject* parent = nullptr);
    ~TMainThreadInbox() override;

    // False when the process had no descriptor left for the wake-up; nothing posted would run.
    bool Ready() const { return WakeFd >= 0; }
    // The error number of the failed wake-up descriptor, taken when it failed; 0 when Ready.
    int SetupError() const { return WakeError; }

    // Never blocks for longer than it takes to queue the task.
    void Post(std::function<void()> task);

    // Runs the tasks posted so far, and those they post; on the owning thread only. A writer on
    // that thread calls it first, so that its own line comes after those other threads wrote
    // before it. Called from within a task, it returns at once: the running call takes the new
    // tasks after the ones it holds, so the order of posting is kept.
    void RunPosted();

private:
    int WakeFd = -1;
    int WakeError = 0;
    QSocketNotifier* Notifier = nullptr;
    std::mutex Lock;
    std::vector<std::function<void()>> Tasks;
    // Owning thread only.
    bool Running = false;
};
