// Drives a running modbus-bridge.exe from outside, as the system and the operator do, through
// messages that its main window answers itself (another process cannot read its menu's state).
//
//   window-driver.exe wait MS          until the window is shown; 1 when it is not within MS
//   window-driver.exe command ID       a menu command (WM_COMMAND), as a click on the item does
//   window-driver.exe keys tab|access allow|deny MS
//                                      a button of the question bar pressed by the keyboard: Tab
//                                      from the log to it, then Space, again every 100 ms until
//                                      the question is answered; or Alt with its access letter,
//                                      again until answered. 1 when it is not within MS (the bar
//                                      takes no answer in its first half second), or when the
//                                      focus is not on the log before and after, on the button
//                                      after the Tab
//   window-driver.exe save NAME MS     "Сохранить" from the menu, NAME typed into the save dialog
//                                      and the dialog confirmed; 1 when it did not close within MS
//   window-driver.exe close MS         WM_CLOSE, then waits for the program to end; prints the
//                                      milliseconds until it ended and until its window went
//                                      (hidden or destroyed), 1 when it did not end within MS
//   window-driver.exe endsession MS    WM_QUERYENDSESSION and WM_ENDSESSION as at a logout
//   window-driver.exe show STATE       maximize, minimize or restore, as the title bar's buttons
//   window-driver.exe scroll top|bottom the log's scroll bar dragged to its top or bottom
//   window-driver.exe log              prints the log's first line in sight, its count of lines
//                                      and 1 when its vertical scroll bar is shown, else 0
//   window-driver.exe state MS         prints how the window is shown (shown, minimized or
//                                      hidden) once it exists; 1 when it does not within MS
//   window-driver.exe windows          prints how many main windows exist, of every copy
//   window-driver.exe tray ID          a command of the tray icon's menu (WM_COMMAND to the
//                                      icon's window, as the popup menu sends it)
//   window-driver.exe trayclick        a click on the tray icon, as the shell tells it
//   window-driver.exe dialog open ID MS
//                                      a menu command that opens a dialog (sites, ports), then
//                                      waits until a dialog is shown over the main window; the
//                                      verbs below work on that dialog, its controls named by id
//   window-driver.exe dialog type TEXT     the text into the dialog's field
//   window-driver.exe dialog press ID      a click on the button
//   window-driver.exe dialog choose ROW    the list's row (from 0) chosen by the list's own keys
//   window-driver.exe dialog message       prints the line that tells what an action did
//   window-driver.exe dialog rows          prints the list's count of rows
//   window-driver.exe dialog close MS      Escape, then waits until the dialog has gone
#include <windows.h>
// The rich-text control's class name needs windows.h first.
#include <richedit.h>
// The list's messages need windows.h first.
#include <commctrl.h>
// The dialogs' control names need windows.h first.
#include <dlgs.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>

namespace {

constexpr wchar_t kMainWindowClass[] = L"ModbusBridgeMainWindow";
// The tray icon's window, and the message through which the shell tells it the icon's clicks.
constexpr wchar_t kTrayWindowClass[] = L"ModbusBridgeMessageWindow";
constexpr wchar_t kTrayWindowTitle[] = L"modbus-bridge tray";
constexpr UINT kTrayMessage = WM_APP + 10;

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

// The button of the question bar with this text (its access letter marked with '&').
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

// The question bar, as the operator sees it from outside the program.

constexpr wchar_t kAllowText[] = L"&Разрешить";
constexpr wchar_t kDenyText[] = L"&Запретить";
constexpr int kPressIntervalMs = 100;

std::wstring TextOf(HWND window) {
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// The question in view: the text of the static control beside the buttons; empty when the bar is
// hidden.
std::wstring QuestionInView() {
    const HWND allow = QuestionButton(kAllowText);
    if (allow == nullptr) {
        return {};
    }
    for (HWND child = GetWindow(GetParent(allow), GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == L"Static") {
            return TextOf(child);
        }
    }
    return {};
}

// Whether the window is the log, the rich-text control.
bool IsLog(HWND window) {
    return lstrcmpiW(ClassOf(window).c_str(), L"RichEdit50W") == 0;
}

// The window that has the keyboard focus in the main window's thread.
HWND FocusOfMainWindow() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(MainWindow(), nullptr);
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

INPUT VirtualKey(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    return input;
}

// A key pressed and let go, as real input to the window in front.
void PressKey(WORD key) {
    INPUT strokes[2] = {VirtualKey(key, false), VirtualKey(key, true)};
    SendInput(2, strokes, sizeof(INPUT));
}

// The main window in front, where the keyboard's strokes go.
bool BringToFront() {
    const HWND window = MainWindow();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (GetForegroundWindow() != window) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        SetForegroundWindow(window);
        Sleep(10);
    }
    return true;
}

// Presses until the question in view is another than the one first seen (or none), at most
// boundMs; prints how many presses it took and the milliseconds from the first sight of the
// question to its answer.
int PressUntilAnswered(int boundMs, const std::function<void()>& press) {
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::milliseconds(boundMs);
    const std::wstring asked = QuestionInView();
    if (asked.empty()) {
        std::fputs("no question in view\n", stderr);
        return 1;
    }
    for (int presses = 1;; ++presses) {
        press();
        // A press that came too early changes nothing; the next one is the operator's second.
        const auto next =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(kPressIntervalMs);
        while (std::chrono::steady_clock::now() < next) {
            if (QuestionInView() != asked) {
                const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count();
                std::printf("answered after %d presses, %lld ms after the question was seen\n",
                            presses, static_cast<long long>(tookMs));
                return 0;
            }
            Sleep(10);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::fputs("the question was not answered\n", stderr);
            return 1;
        }
    }
}

int PressByKeys(const std::string& how, const std::string& which, int boundMs) {
    const bool allow = which == "allow";
    const HWND button = QuestionButton(allow ? kAllowText : kDenyText);
    if (button == nullptr || !BringToFront()) {
        std::fputs("no question in view, or the window cannot be brought to the front\n", stderr);
        return 1;
    }
    // The question took no focus: the log has it.
    const HWND before = FocusOfMainWindow();
    if (!IsLog(before)) {
        std::fprintf(stderr, "the focus is on %ls \"%ls\", not on the log\n",
                     ClassOf(before).c_str(), TextOf(before).c_str());
        return 1;
    }
    int result = 0;
    if (how == "tab") {
        PressKey(VK_TAB);
        if (!allow) {
            PressKey(VK_TAB);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (FocusOfMainWindow() != button) {
            if (std::chrono::steady_clock::now() > deadline) {
                std::fputs("Tab did not reach the button\n", stderr);
                return 1;
            }
            Sleep(10);
        }
        result = PressUntilAnswered(boundMs, [] { PressKey(VK_SPACE); });
    } else {
        // Alt with the letter as the message that a keyboard layout which has the letter makes
        // of it: wine's input cannot type a Cyrillic letter with Alt held on its display's Latin
        // keymap (it puts the Alt flag into the character).
        const wchar_t letter = allow ? L'р' : L'з';
        result = PressUntilAnswered(boundMs, [letter] {
            PostMessageW(FocusOfMainWindow(), WM_SYSCHAR, letter, LPARAM{1} | KF_ALTDOWN << 16);
        });
    }
    if (result != 0) {
        return result;
    }
    // Whatever comes next, the keys are back with the log.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!IsLog(FocusOfMainWindow())) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "after the answer the focus is on %ls, not on the log\n",
                         ClassOf(FocusOfMainWindow()).c_str());
            return 1;
        }
        Sleep(10);
    }
    return 0;
}

// The save dialog of the main window's process, once it is open.
HWND SaveDialog(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    for (;;) {
        for (HWND dialog = FindWindowW(L"#32770", nullptr); dialog != nullptr;
             dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) {
            if (GetWindow(dialog, GW_OWNER) == MainWindow() && IsWindowVisible(dialog) &&
                (GetDlgItem(dialog, cmb13) != nullptr || GetDlgItem(dialog, edt1) != nullptr)) {
                return dialog;
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return nullptr;
        }
        Sleep(10);
    }
}

int SaveAs(const char* name, int boundMs) {
    const int saveCommand = 101;
    if (!PostMessageW(MainWindow(), WM_COMMAND, saveCommand, 0)) {
        std::fputs("no main window\n", stderr);
        return 1;
    }
    const HWND dialog = SaveDialog(boundMs);
    if (dialog == nullptr) {
        std::fputs("no save dialog\n", stderr);
        return 1;
    }
    HWND field = GetDlgItem(dialog, cmb13);
    if (field == nullptr) {
        field = GetDlgItem(dialog, edt1);
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, name, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, name, -1, wide.data(), length);
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (IsWindow(dialog)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fputs("the save dialog did not close\n", stderr);
            return 1;
        }
        Sleep(10);
    }
    return 0;
}

int PrintShownState(int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    HWND window = MainWindow();
    while (window == nullptr) {
        if (std::chrono::steady_clock::now() > deadline) {
            return 1;
        }
        Sleep(10);
        window = MainWindow();
    }
    const char* state = !IsWindowVisible(window) ? "hidden"
                        : IsIconic(window)       ? "minimized"
                                                 : "shown";
    std::printf("%s\n", state);
    return 0;
}

int PrintMainWindows() {
    int count = 0;
    for (HWND window = FindWindowExW(nullptr, nullptr, kMainWindowClass, nullptr);
         window != nullptr; window = FindWindowExW(nullptr, window, kMainWindowClass, nullptr)) {
        ++count;
    }
    std::printf("%d\n", count);
    return 0;
}

// The sites and ports dialogs: their controls by the ids the window gives them.

constexpr int kDialogListId = 101;
constexpr int kDialogFieldId = 103;
constexpr int kDialogMessageId = 105;

std::wstring WideOf(const char* text) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, wide.data(), length);
    wide.resize(wide.size() - 1);
    return wide;
}

void PrintUtf8(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, bytes.data(), length, nullptr, nullptr);
    std::printf("%s\n", bytes.c_str());
}

// The dialog over the main window; none when none is shown.
HWND OpenDialog() {
    for (HWND dialog = FindWindowW(L"#32770", nullptr); dialog != nullptr;
         dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr)) {
        if (GetWindow(dialog, GW_OWNER) == MainWindow() && IsWindowVisible(dialog)) {
            return dialog;
        }
    }
    return nullptr;
}

bool WaitForDialog(bool shown, int boundMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while ((OpenDialog() != nullptr) != shown) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

int DriveDialog(int argc, char* argv[]) {
    const std::string verb = argv[2];
    const int number = argc > 3 ? std::atoi(argv[3]) : 0;
    if (verb == "open" && argc == 5) {
        PostMessageW(MainWindow(), WM_COMMAND, static_cast<WPARAM>(number), 0);
        return WaitForDialog(true, std::atoi(argv[4])) ? 0 : 1;
    }
    const HWND dialog = OpenDialog();
    if (dialog == nullptr) {
        std::fputs("no dialog in view\n", stderr);
        return 1;
    }
    // Sent, not posted: the dialog has done what it was told when the call returns.
    const auto send = [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, 30000, &result) !=
               0;
    };
    if (verb == "type" && argc == 4) {
        const std::wstring text = WideOf(argv[3]);
        return send(GetDlgItem(dialog, kDialogFieldId), WM_SETTEXT, 0,
                    reinterpret_cast<LPARAM>(text.c_str()))
                   ? 0
                   : 1;
    }
    if (verb == "press" && argc == 4) {
        const HWND button = GetDlgItem(dialog, number);
        if (button == nullptr || !IsWindowEnabled(button)) {
            std::fputs("no such button enabled\n", stderr);
            return 1;
        }
        return send(button, BM_CLICK, 0, 0) ? 0 : 1;
    }
    if (verb == "choose" && argc == 4) {
        // The list's own keys: Home chooses the first row, each Down the next.
        const HWND list = GetDlgItem(dialog, kDialogListId);
        bool sent = send(list, WM_KEYDOWN, VK_HOME, 0);
        for (int row = 0; row < number; ++row) {
            sent = sent && send(list, WM_KEYDOWN, VK_DOWN, 0);
        }
        return sent ? 0 : 1;
    }
    if (verb == "message") {
        PrintUtf8(TextOf(GetDlgItem(dialog, kDialogMessageId)));
        return 0;
    }
    if (verb == "rows") {
        std::printf("%lld\n", static_cast<long long>(SendMessageW(GetDlgItem(dialog, kDialogListId),
                                                                  LVM_GETITEMCOUNT, 0, 0)));
        return 0;
    }
    if (verb == "close" && argc == 4) {
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return WaitForDialog(false, number) ? 0 : 1;
    }
    std::fputs("dialog open|type|press|choose|message|rows|close ...\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc < 2) {
        std::fputs(
            "usage: window-driver.exe wait|command|keys|save|close|endsession|show|scroll|log|"
            "state|tray|trayclick ...\n",
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
    if (verb == "keys" && argc == 5) {
        return PressByKeys(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (verb == "save" && argc == 4) {
        return SaveAs(argv[2], std::atoi(argv[3]));
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
    if (verb == "state") {
        return PrintShownState(number);
    }
    if (verb == "windows") {
        return PrintMainWindows();
    }
    if (verb == "tray" || verb == "trayclick") {
        const HWND tray = FindWindowW(kTrayWindowClass, kTrayWindowTitle);
        const BOOL posted = verb == "tray"
                                ? PostMessageW(tray, WM_COMMAND, static_cast<WPARAM>(number), 0)
                                : PostMessageW(tray, kTrayMessage, 1, WM_LBUTTONUP);
        return tray != nullptr && posted ? 0 : 1;
    }
    if (verb == "dialog" && argc >= 3) {
        return DriveDialog(argc, argv);
    }
    std::fputs("unknown verb\n", stderr);
    return 2;
}
