#include "Win32BesideReports.h"

#include "Win32Text.h"

TBesideReports::~TBesideReports() {
    if (!Thread.joinable()) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(Lock);
        Ending = true;
        Changed.wait(lock, [this] { return QueueReady; });
    }
    Changed.notify_all();
    // A box's own message loop ends on WM_QUIT; one the thread is about to open finds it waiting.
    PostThreadMessageW(ThreadId, WM_QUIT, 0, 0);
    Thread.join();
}

void TBesideReports::Show(std::string_view caption, std::string_view text, UINT icon) {
    {
        const std::lock_guard<std::mutex> lock(Lock);
        Waiting.push_back(TReport{WideFromUtf8(caption), WideFromUtf8(text), icon});
    }
    if (!Thread.joinable()) {
        Thread = std::thread([this] { Run(); });
    } else {
        Changed.notify_all();
    }
}

void TBesideReports::Run() {
    MSG message{};
    PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    std::unique_lock<std::mutex> lock(Lock);
    ThreadId = GetCurrentThreadId();
    QueueReady = true;
    Changed.notify_all();
    for (;;) {
        Changed.wait(lock, [this] { return Ending || !Waiting.empty(); });
        if (Ending) {
            return;
        }
        const TReport report = std::move(Waiting.front());
        Waiting.pop_front();
        lock.unlock();
        MessageBoxW(nullptr, report.Text.c_str(), report.Caption.c_str(),
                    MB_OK | report.Icon | MB_SETFOREGROUND);
        lock.lock();
    }
}
