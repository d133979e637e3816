#pragma once

#include <windows.h>

#include <functional>

// A window of the calling thread that exists only to receive messages, so that a thread's
// message loop delivers socket events (WSAAsyncSelect), timers (SetTimer) and tasks posted from
// other threads (PostMessage) to the object that owns it. Windows only; made, used and destroyed
// on one thread, whose message loop must run (GetMessage and DispatchMessage, or a window
// program's own loop).
class TMessageWindow {
public:
    // True when the handler took the message, with the result to return for it.
    using THandler =
        std::function<bool(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)>;

    enum class TKind {
        // HWND_MESSAGE: no broadcast reaches it, nor is it ever shown.
        MessageOnly,
        // A top-level window that is never shown, for what the system broadcasts to every
        // top-level window (WM_QUERYENDSESSION, WM_ENDSESSION) and for a close request from
        // another program (taskkill sends WM_CLOSE).
        HiddenTopLevel,
    };

    // The title tells the program's windows apart (tests find them by it).
    explicit TMessageWindow(THandler handler, TKind kind = TKind::MessageOnly,
                            const wchar_t* title = L"modbus-bridge");
    ~TMessageWindow();
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    HWND Handle() const { return Window; }
    // GetLastError of the failed creation; 0 when the window exists.
    DWORD SetupError() const { return Error; }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    THandler Handler;
    HWND Window = nullptr;
    DWORD Error = 0;
};
