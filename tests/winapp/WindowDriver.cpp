// Drives a running modbus-bridge.exe from outside, as the system and the operator do, through
// messages that its main window answers itself (another process cannot read its menu's state).
//
//   window-driver.exe wait MS          until the window is shown; 1 when it is not within MS
//   window-driver.exe command ID       a menu command (WM_COMMAND), as a click on the item does
//   window-driver.exe allow | deny     a click on a button of the question bar
//   window-driver.exe close MS         WM_CLOSE, then waits for the program to end; prints the
//                                      milliseconds it took, 1 when it did not end within MS
//   window-driver.exe endsession MS    WM_QUERYENDSESSION and WM_ENDSESSION as at a logout
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(boundMs));
    const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
    CloseHandle(process);
    std::printf("%lld\n", static_cast<long long>(tookMs));
    return waited == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs("usage: window-driver.exe wait|command|allow|deny|close|endsession ...\n",
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
    std::fputs("unknown verb\n", stderr);
    return 2;
}
