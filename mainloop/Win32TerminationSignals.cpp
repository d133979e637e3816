// The requests to end the program on Windows. The console's control events (Ctrl+C, Ctrl+Break,
// closing the console window, and logoff or shutdown for a program that the system counts as a
// console program) come on a thread of their own, which hands them to the owning thread and
// waits there, bounded, for the shutdown to be carried out: after closing, logoff and shutdown
// the system ends the process as soon as the handler returns. A program that uses windows gets
// logoff and shutdown only as WM_QUERYENDSESSION and WM_ENDSESSION, which the system sends to
// every top-level window; a hidden one takes them, and WM_CLOSE (taskkill without /F) too. That
// window is a help, not a condition: where the system cannot make one (wine without a display),
// Ctrl+C and closing the console still end the program cleanly.
#include <windows.h>

#include <mutex>
#include <string>

#include "TerminationSignals.h"
#include "Win32MessageWindow.h"
#include "Win32Text.h"

namespace {

constexpr UINT kStopRequested = WM_APP + 1;
// Windows gives a console program about five seconds after closing, logoff or shutdown; the
// shutdown itself takes about half a second.
constexpr DWORD kShutdownBoundMs = 4000;

}  // namespace

class TTerminationSignals::TReceiver {
public:
    TReceiver(const std::function<void()>& onStop, std::string& error)
        : OnStop(onStop),
          Done(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          Messages([this](UINT message, WPARAM wParam, LPARAM, LRESULT& result) {
              return Handle(message, wParam, result);
          }),
          Session([this](UINT message, WPARAM wParam, LPARAM,
                         LRESULT& result) { return Handle(message, wParam, result); },
                  TMessageWindow::TKind::HiddenTopLevel) {
        if (Done == nullptr) {
            error = "CreateEventW: " + Win32ErrorText(GetLastError());
            return;
        }
        if (Messages.Handle() == nullptr) {
            error = "CreateWindowExW: " + Win32ErrorText(Messages.SetupError());
            return;
        }
        // The console's handler routine has no context of its own: one receiver at a time.
        const std::lock_guard guard(ActiveLock);
        if (Active != nullptr) {
            error = "SetConsoleCtrlHandler: another receiver is active";
            return;
        }
        if (!SetConsoleCtrlHandler(ConsoleControl, TRUE)) {
            error = "SetConsoleCtrlHandler: " + Win32ErrorText(GetLastError());
            return;
        }
        Active = this;
    }

    ~TReceiver() {
        if (Ready()) {
            SetConsoleCtrlHandler(ConsoleControl, FALSE);
            const std::lock_guard guard(ActiveLock);
            Active = nullptr;
        }
        if (Done != nullptr) {
            // A handler still waiting ends its wait on its own copy of the event now.
            SetEvent(Done);
            CloseHandle(Done);
        }
    }

    TReceiver(const TReceiver&) = delete;
    TReceiver& operator=(const TReceiver&) = delete;

    bool Ready() const {
        const std::lock_guard guard(ActiveLock);
        return Active == this;
    }

private:
    // On a thread that the system starts for the event.
    static BOOL WINAPI ConsoleControl(DWORD event) {
        if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
            event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
            return FALSE;
        }
        HWND window = nullptr;
        HANDLE done = nullptr;
        {
            const std::lock_guard guard(ActiveLock);
            if (Active == nullptr ||
                !DuplicateHandle(GetCurrentProcess(), Active->Done, GetCurrentProcess(), &done, 0,
                                 FALSE, DUPLICATE_SAME_ACCESS)) {
                return FALSE;
            }
            window = Active->Messages.Handle();
        }
        if (PostMessageW(window, kStopRequested, 0, 0)) {
            WaitForSingleObject(done, kShutdownBoundMs);
        }
        CloseHandle(done);
        return TRUE;
    }

    bool Handle(UINT message, WPARAM wParam, LRESULT& result) {
        switch (message) {
            case kStopRequested:
            case WM_CLOSE:
                Stop();
                result = 0;
                return true;
            case WM_QUERYENDSESSION:
                result = TRUE;
                return true;
            case WM_ENDSESSION:
                // The session ends once this returns: the shutdown happens now, on this thread.
                if (wParam != FALSE) {
                    Stop();
                }
                result = 0;
                return true;
            default:
                return false;
        }
    }

    void Stop() {
        if (!Stopping) {
            Stopping = true;
            OnStop();
        }
        SetEvent(Done);
    }

    static inline std::mutex ActiveLock;
    static inline TReceiver* Active = nullptr;

    const std::function<void()>& OnStop;
    HANDLE Done;
    // Where the console's handler hands its events over.
    TMessageWindow Messages;
    // Where the session's end and close requests come; none without a window station.
    TMessageWindow Session;
    // Owning thread only.
    bool Stopping = false;
};

bool TTerminationSignals::Block() {
    return true;
}

TTerminationSignals::TTerminationSignals(std::function<void()> onStop)
    : OnStop(std::move(onStop)), Receiver(std::make_unique<TReceiver>(OnStop, Error)) {}

TTerminationSignals::~TTerminationSignals() = default;

bool TTerminationSignals::Ready() const {
    return Receiver->Ready();
}
