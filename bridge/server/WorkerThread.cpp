#include "WorkerThread.h"

#include "StopSignal.h"

TWorkerThread::~TWorkerThread() {
    if (!Thread.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Ending = true;
    }
    Wake.notify_one();
    Thread.join();
}

void TWorkerThread::Run(std::function<void()> task) {
    if (!Thread.joinable()) {
        Thread = std::thread([this] { Serve(); });
    }
    {
        const std::lock_guard<std::mutex> hold(Lock);
        Task = std::move(task);
    }
    Wake.notify_one();
}

void TWorkerThread::Serve() {
    // The line's pauses and turnaround waits run on this thread, counted to the microsecond.
    TStopSignal::PreferPreciseWaitsOnThisThread();
    std::unique_lock<std::mutex> hold(Lock);
    while (true) {
        Wake.wait(hold, [this] { return Ending || Task; });
        if (!Task) {
            return;
        }
        std::function<void()> task = std::move(Task);
        Task = nullptr;
        hold.unlock();
        task();
        hold.lock();
    }
}
