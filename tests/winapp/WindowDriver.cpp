// Drives a running modbus-bridge.exe from outside, as the system and the operator do, through
// messages that its main window answers itself (another process cannot read its menu's state).
//
//   window-driver.exe wait MS          until the window is shown; 1 when it is not within MS
//   window-driver.exe command ID       a menu command (WM_COMMAND), as a click on the item does
//   window-driver.exe allow | deny     a click on a button of the question bar
//   window-driver.exe close MS         WM_CLOSE, then waits for the program to end; prints the
//                                      milliseconds until it ended and until its window went
//                                      (hidden or destroyed), 1 when it did not end within MS
//   window-driver.exe endsession MS    WM_QUERYENDSESSION and WM_ENDSESSION as at a logout
//   window-driver.exe show STATE       maximize, minimize or restore, as the title bar's buttons
//   window-driver.exe scroll top|bottom the log's scroll bar dragged to its top or bottom
//   window-driver.exe log              prints the log's first line in sight, its count of lines
//                                      and 1 when its vertical scroll bar is shown, else 0
#include <windows.h>
// The rich-text control's class name needs windows.h first.
#include <richedit.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

constexpr wchar_t kMainWindowClass[] = L"ModbusBridgeMainWindow";

HWND MainWindow() {
    return FindWindowW(kMainWindowClass, nullptr);
}

bool WaitShown(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        const HWND window = MainWindow();
        if (window != nullptr && IsWindowVisible(window)) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        // Nothing to wait on in another process's window: look again shortly.
        Sleep(10);
    }
}

// The button of the question bar with this text.
HWND QuestionButton(const wchar_t* text) {
    struct TSearch {
        const wchar_t* Text;
        HWND Found;
    } search{text, nullptr};
    EnumChildWindows(
        MainWindow(),
        [](HWND child, LPARAM context) -> BOOL {
            auto* wanted = reinterpret_cast<TSearch*>(context);
            wchar_t caption[64] = {};
            GetWindowTextW(child, caption, 64);
            if (std::wcscmp(caption, wanted->Text) == 0 && IsWindowVisible(child)) {
                wanted->Found = child;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// Sends the messages, then waits for the window's process to end.
int EndProgram(int boundMs, bool sessionEnd) {
    const HWND window = MainWindow();
    if (window == nullptr) {
        std::fputs("no main window\n", stderr);
        return 1;
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr) {
        std::fputs("the window's process cannot be waited for\n", stderr);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    if (sessionEnd) {
        const LRESULT mayEnd = SendMessageW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF);
        if (mayEnd == FALSE) {
            std::fputs("the window held up the end of the session\n", stderr);
        }
        SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL,
                            static_cast<UINT>(boundMs), nullptr);
    } else {
        PostMessageW(window, WM_CLOSE, 0, 0);
    }
    // Nothing tells another process when a window goes (wine delivers no window events across
    // processes): it is looked at between short waits for the process's end.
    constexpr DWORD kLookEveryMs = 5;
    const auto deadline = start + std::chrono::milliseconds(boundMs);
    std::optional<std::chrono::steady_clock::time_point> gone;
    DWORD waited = WAIT_TIMEOUT;
    while (waited != WAIT_OBJECT_0 && std::chrono::steady_clock::now() < deadline) {
        waited = WaitForSingleObject(process, kLookEveryMs);
        if (!gone && !(IsWindow(window) && IsWindowVisible(window))) {
            gone = std::chrono::steady_clock::now();
        }
    }
    const auto end = std::chrono::steady_clock::now();
    CloseHandle(process);
    const auto since = [start](std::chrono::steady_clock::time_point at) {
        return static_cast<long long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(at - start).count());
    };
    // A window still there at the end went with its process.
    std::printf("%lld %lld\n", since(end), since(gone.value_or(end)));
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

// The event log: the main window's rich-text control.
HWND LogControl() {
    HWND found = nullptr;
    EnumChildWindows(
        MainWindow(),
        [](HWND child, LPARAM result) -> BOOL {
            wchar_t name[64] = {};
            GetClassNameW(child, name, 64);
            if (_wcsicmp(name, MSFTEDIT_CLASS) != 0) {
                return TRUE;
            }
            *reinterpret_cast<HWND*>(result) = child;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

// The window's size changes as its title bar's buttons make them. The program has laid out its
// parts when this returns: the messages of the change are sent, not posted.
int ShowAs(const std::string& state) {
    const int command = state == "maximize"   ? SW_MAXIMIZE
                        : state == "minimize" ? SW_MINIMIZE
                        : state == "restore"  ? SW_RESTORE
                                              : -1;
    const HWND window = MainWindow();
    if (command < 0 || window == nullptr) {
        std::fputs("show maximize|minimize|restore, with the window there\n", stderr);
        return 2;
    }
    ShowWindow(window, command);
    return 0;
}

int ScrollLog(const std::string& where) {
    const HWND log = LogControl();
    if (log == nullptr || (where != "top" && where != "bottom")) {
        std::fputs("scroll top|bottom, with the log there\n", stderr);
        return 2;
    }
    SendMessageW(log, WM_VSCROLL, where == "top" ? SB_TOP : SB_BOTTOM, 0);
    return 0;
}

// Read by messages that carry no pointer, so that they cross between processes.
int PrintLogView() {
    const HWND log = LogControl();
    if (log == nullptr) {
        std::fputs("no log in view\n", stderr);
        return 1;
    }
    const auto first = SendMessageW(log, EM_GETFIRSTVISIBLELINE, 0, 0);
    const auto lines = SendMessageW(log, EM_GETLINECOUNT, 0, 0);
    const bool bar = (GetWindowLongW(log, GWL_STYLE) & WS_VSCROLL) != 0;
    std::printf("%lld %lld %d\n", static_cast<long long>(first), static_cast<long long>(lines),
                bar ? 1 : 0);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs(
            "usage: window-driver.exe wait|command|allow|deny|close|endsession|show|scroll|log "
            "...\n",
            stderr);
        return 2;
    }
    const std::string verb = argv[1];
    const int number = argc > 2 ? std::atoi(argv[2]) : 0;
    if (verb == "wait") {
        return WaitShown(number) ? 0 : 1;
    }
    if (verb == "command") {
        return PostMessageW(MainWindow(), WM_COMMAND, static_cast<WPARAM>(number), 0) ? 0 : 1;
    }
    if (verb == "allow" || verb == "deny") {
        const HWND button = QuestionButton(verb == "allow" ? L"Разрешить" : L"Запретить");
        if (button == nullptr) {
            std::fputs("no question in view\n", stderr);
            return 1;
        }
        return PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (verb == "close" || verb == "endsession") {
        return EndProgram(number, verb == "endsession");
    }
    const std::string word = argc > 2 ? argv[2] : "";
    if (verb == "show") {
        return ShowAs(word);
    }
    if (verb == "scroll") {
        return ScrollLog(word);
    }
    if (verb == "log") {
        return PrintLogView();
    }
    std::fputs("unknown verb\n", stderr);
    return 2;
}
