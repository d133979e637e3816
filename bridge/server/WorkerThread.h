#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// The request worker's thread, made with the first request and kept for the next: making a thread
// for each request cost more than the bridge's own work on the request. It runs one task at a
// time, each as soon as it is handed over.
class TWorkerThread {
public:
    TWorkerThread() = default;
    // Lets the task that runs end, then ends the thread.
    ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Hands the task over, while no other runs; throws std::system_error when the system cannot
    // make the thread, and then the task does not run.
    void Run(std::function<void()> task);

private:
    void Serve();

    std::mutex Lock;
    std::condition_variable Wake;
    std::function<void()> Task;
    bool Ending = false;
    std::thread Thread;
};
