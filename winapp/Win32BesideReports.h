#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

// The message boxes that do not wait for the operator, all on one thread of their own: the
// program goes on while one is open, and a burst of reports makes no burst of threads. The boxes
// come one after another, each once the one before it is closed, in the order of the reports.
// Ending the object closes the open box; the reports still waiting are not shown.
class TBesideReports {
public:
    TBesideReports() = default;
    ~TBesideReports();
    TBesideReports(const TBesideReports&) = delete;
    TBesideReports& operator=(const TBesideReports&) = delete;

    // Returns at once; the thread starts with the first report.
    void Show(std::string_view caption, std::string_view text, UINT icon);

private:
    struct TReport {
        std::wstring Caption;
        std::wstring Text;
        UINT Icon = 0;
    };

    void Run();

    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<TReport> Waiting;
    bool Ending = false;
    // The thread's message queue exists, so a WM_QUIT posted to it is kept for its box.
    bool QueueReady = false;
    DWORD ThreadId = 0;
    std::thread Thread;
};
