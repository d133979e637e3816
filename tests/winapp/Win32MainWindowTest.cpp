// The Win32 main window in process, on a display of its own: menus, close requests, log lines
// with their colours, the status panels, the question bar, placement and the dialogs.
#include <windows.h>
// The common controls' and dialogs' declarations need windows.h first.
#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest.h>
#include <richedit.h>
#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HttpClient.h"
#include "IniFile.h"
#include "LogLine.h"
#include "LogModel.h"
#include "OriginBar.h"
#include "OriginQuestions.h"
#include "RecordingEvents.h"
#include "TempFolder.h"
#include "TrayPicture.h"
#include "Win32MainWindow.h"
#include "Win32Text.h"
#include "Win32Tray.h"
#include "WindowBehaviour.h"
#include "WindowTexts.h"

namespace {

using Strings = std::vector<std::string>;
using namespace std::string_literals;

std::wstring Wide(std::string_view text) {
    return WideFromUtf8(text);
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

// Runs what the thread's queue holds (layout, painting, posted commands).
void Pump() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Runs the queue until the condition holds, at most ten seconds: for what another thread does.
bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        Pump();
    }
    return true;
}

std::wstring MenuText(HMENU menu, int position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(position), text, 128, MF_BYPOSITION);
    return text;
}

// The texts of a menu's items in order; a separator is "-".
std::vector<std::wstring> MenuTexts(HMENU menu) {
    std::vector<std::wstring> texts;
    for (int position = 0; position < GetMenuItemCount(menu); ++position) {
        MENUITEMINFOW item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE;
        GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &item);
        texts.push_back((item.fType & MFT_SEPARATOR) != 0 ? L"-" : MenuText(menu, position));
    }
    return texts;
}

// The command of the item reached through these texts from the menu bar; 0 when there is none.
UINT CommandOf(HMENU menu, const Strings& path) {
    for (size_t step = 0; step < path.size(); ++step) {
        int found = -1;
        for (int position = 0; position < GetMenuItemCount(menu); ++position) {
            if (MenuText(menu, position) == Wide(path[step])) {
                found = position;
            }
        }
        if (found < 0) {
            return 0;
        }
        if (step + 1 == path.size()) {
            return GetMenuItemID(menu, found);
        }
        menu = GetSubMenu(menu, found);
    }
    return 0;
}

// The control's text, one entry per line, without the line ends.
std::vector<std::wstring> ControlLines(HWND control) {
    GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
    const auto size =
        SendMessageW(control, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::wstring text(static_cast<size_t>(size) + 1, L'\0');
    GETTEXTEX request{};
    request.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    request.flags = GT_DEFAULT;
    request.codepage = 1200;
    text.resize(
        static_cast<size_t>(SendMessageW(control, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&request),
                                         reinterpret_cast<LPARAM>(text.data()))));
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end = text.find(L'\r'); end != std::wstring::npos;
         start = end + 1, end = text.find(L'\r', start)) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

CHARFORMAT2W FormatOf(HWND control, LONG from, LONG to) {
    CHARRANGE range{from, to};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(control, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    return format;
}

COLORREF ColourOf(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

struct TShownLine {
    TLogKind Kind;
    std::wstring Text;
};

constexpr TLogKind kAllKinds[] = {TLogKind::Date,   TLogKind::Info, TLogKind::Error,
                                  TLogKind::Notice, TLogKind::Send, TLogKind::Receive};

// The control shows exactly these lines, each in its kind's colours and styles over its text and
// its line end, in the log's font.
void ExpectLines(HWND control, const std::vector<TShownLine>& lines) {
    std::vector<std::wstring> texts;
    for (const TShownLine& line : lines) {
        texts.push_back(line.Text);
    }
    ASSERT_EQ(ControlLines(control), texts);
    LONG start = 0;
    for (const TShownLine& line : lines) {
        const auto length = static_cast<LONG>(line.Text.size());
        const CHARFORMAT2W format = FormatOf(control, start, start + length + 1);
        const TLogStyle& style = LogStyle(line.Kind);
        const DWORD uniform = CFM_COLOR | CFM_BACKCOLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE |
                              CFM_STRIKEOUT | CFM_FACE;
        const std::string which = Utf8FromWide(line.Text);
        ASSERT_EQ(format.dwMask & uniform, uniform) << which;
        EXPECT_EQ(format.crTextColor, ColourOf(style.Text)) << which;
        EXPECT_EQ(format.crBackColor, ColourOf(style.Background)) << which;
        EXPECT_EQ((format.dwEffects & CFE_BOLD) != 0, style.Bold) << which;
        EXPECT_EQ((format.dwEffects & CFE_ITALIC) != 0, style.Italic) << which;
        EXPECT_EQ((format.dwEffects & CFE_UNDERLINE) != 0, style.Underline) << which;
        EXPECT_EQ((format.dwEffects & CFE_STRIKEOUT) != 0, style.StrikeOut) << which;
        EXPECT_EQ(std::wstring(format.szFaceName), L"Courier New") << which;
        start += length + 1;
    }
}

std::wstring SelectedText(HWND control) {
    CHARRANGE range{};
    SendMessageW(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&range));
    std::wstring text(static_cast<size_t>(range.cpMax - range.cpMin) + 1, L'\0');
    text.resize(static_cast<size_t>(
        SendMessageW(control, EM_GETSELTEXT, 0, reinterpret_cast<LPARAM>(text.data()))));
    return text;
}

RECT ClientRectOf(HWND child) {
    RECT rect{};
    GetWindowRect(child, &rect);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Whether the last line of the log is in sight.
bool LastLineInSight(HWND control) {
    const auto lines = static_cast<WPARAM>(SendMessageW(control, EM_GETLINECOUNT, 0, 0));
    // The control ends with an empty line after the log's last line end.
    const LONG last = static_cast<LONG>(SendMessageW(control, EM_LINEINDEX, lines - 2, 0));
    POINTL at{};
    SendMessageW(control, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), last);
    RECT client{};
    GetClientRect(control, &client);
    return at.y >= 0 && at.y + 14 <= client.bottom;
}

LONG FirstVisibleLine(HWND control) {
    return static_cast<LONG>(SendMessageW(control, EM_GETFIRSTVISIBLELINE, 0, 0));
}

// The control's scroll bar (OBJID_VSCROLL or OBJID_HSCROLL) in screen coordinates; empty while
// the bar is not shown.
RECT ScrollBarRect(HWND control, LONG bar) {
    SCROLLBARINFO info{};
    info.cbSize = sizeof info;
    if (!GetScrollBarInfo(control, bar, &info) ||
        (info.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) != 0) {
        return {};
    }
    return info.rcScrollBar;
}

// The pixels the window shows in this rectangle of the screen, read back from what it drew.
std::vector<uint32_t> PixelsShown(HWND window, RECT area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    RECT frame{};
    GetWindowRect(window, &frame);
    const HDC source = GetWindowDC(window);
    const HDC copy = CreateCompatibleDC(source);
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = width;
    format.bmiHeader.biHeight = -height;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const HBITMAP bitmap = CreateDIBSection(copy, &format, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ previous = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, source, area.left - frame.left, area.top - frame.top,
           SRCCOPY);
    GdiFlush();
    const auto* first = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> pixels(first, first + static_cast<size_t>(width * height));
    SelectObject(copy, previous);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(window, source);
    return pixels;
}

// Runs the action on each dialog box this thread opens, once the box is ready.
class TDialogWatch {
public:
    explicit TDialogWatch(std::function<void(HWND dialog)> action) {
        Action = std::move(action);
        Hook = SetWindowsHookExW(WH_CALLWNDPROCRET, Watch, nullptr, GetCurrentThreadId());
    }
    ~TDialogWatch() {
        UnhookWindowsHookEx(Hook);
        Action = nullptr;
    }
    TDialogWatch(const TDialogWatch&) = delete;
    TDialogWatch& operator=(const TDialogWatch&) = delete;

private:
    static LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
        const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
        if (code == HC_ACTION && call->message == WM_INITDIALOG && Action) {
            Action(call->hwnd);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline std::function<void(HWND)> Action;
    HHOOK Hook = nullptr;
};

// A message box's own text (the static control that is not its icon).
std::wstring MessageBoxText(HWND box) {
    std::wstring found;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM result) -> BOOL {
            if (ClassOf(child) == L"Static" && !TextOf(child).empty()) {
                *reinterpret_cast<std::wstring*>(result) = TextOf(child);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

bool HasIcon(HWND box) {
    bool icon = false;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM result) -> BOOL {
            if (ClassOf(child) == L"Static" &&
                (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                IsWindowVisible(child)) {
                *reinterpret_cast<bool*>(result) = true;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&icon));
    return icon;
}

struct TSeenBox {
    std::wstring Caption;
    std::wstring Text;
    HWND Owner = nullptr;
    bool Icon = false;
};

TSeenBox Seen(HWND box) {
    return {TextOf(box), MessageBoxText(box), GetWindow(box, GW_OWNER), HasIcon(box)};
}

// The threads of this process now.
size_t ThreadCount() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL found = Thread32First(snapshot, &entry); found;
         found = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1U : 0U;
    }
    CloseHandle(snapshot);
    return count;
}

// The message boxes of the error reports that this process has open.
std::vector<HWND> ReportBoxes() {
    std::vector<HWND> boxes;
    const std::wstring caption = Wide(WindowText::kErrorReportCaption);
    for (HWND box = nullptr;
         (box = FindWindowExW(nullptr, box, L"#32770", caption.c_str())) != nullptr;) {
        DWORD process = 0;
        GetWindowThreadProcessId(box, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(box)) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

// A key stroke: a virtual key, with Shift held or not; or Alt with a letter.
struct TStroke {
    WORD Key = 0;
    bool Shift = false;
    wchar_t AltLetter = 0;
};

const TStroke kTab{VK_TAB};
const TStroke kShiftTab{VK_TAB, true};
const TStroke kSpace{VK_SPACE};
const TStroke kEnter{VK_RETURN};

TStroke AltWith(wchar_t letter) {
    return {0, false, letter};
}

void AddKey(std::vector<INPUT>& inputs, WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    inputs.push_back(input);
}

// What marks the end of a series of strokes: a key that nothing in the window takes, and a
// message that nothing sends.
constexpr WORD kLastStroke = VK_F24;
constexpr UINT kLastMessage = WM_APP + 24;

// Runs the thread's queue as the program's loop does, the window's own keys first, until the end
// of a series has been handled; false when it did not come within ten seconds.
bool HandleStrokes(TWin32MainWindow& window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        MSG message{};
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        if (message.message == kLastMessage) {
            return true;
        }
        if (!window.TakeKey(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        // The characters of the strokes before it were posted, so they came before it.
        if (message.message == WM_KEYUP && message.wParam == kLastStroke) {
            return true;
        }
    }
}

// Sends virtual keys to the window in front through the system's input, as the keyboard does,
// and a key that marks their end.
void SendKeys(const std::vector<TStroke>& strokes) {
    std::vector<INPUT> inputs;
    for (const TStroke& stroke : strokes) {
        if (stroke.Shift) {
            AddKey(inputs, VK_SHIFT, false);
        }
        AddKey(inputs, stroke.Key, false);
        AddKey(inputs, stroke.Key, true);
        if (stroke.Shift) {
            AddKey(inputs, VK_SHIFT, true);
        }
    }
    AddKey(inputs, kLastStroke, false);
    AddKey(inputs, kLastStroke, true);
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// The strokes, one after the other, each handled before the next. Alt with a letter comes as
// the message that the keyboard layout which has the letter makes of it (WM_SYSCHAR), to the
// window with the focus: wine's input cannot type a Cyrillic letter with Alt held on its
// display's Latin keymap (it puts the Alt flag into the character).
bool Type(TWin32MainWindow& window, const std::vector<TStroke>& strokes) {
    std::vector<TStroke> keys;
    for (const TStroke& stroke : strokes) {
        if (stroke.AltLetter == 0) {
            keys.push_back(stroke);
            continue;
        }
        if (!keys.empty()) {
            SendKeys(keys);
            keys.clear();
            if (!HandleStrokes(window)) {
                return false;
            }
        }
        PostMessageW(GetFocus(), WM_SYSCHAR, stroke.AltLetter, LPARAM{1} | KF_ALTDOWN << 16);
        PostThreadMessageW(GetCurrentThreadId(), kLastMessage, 0, 0);
        if (!HandleStrokes(window)) {
            return false;
        }
    }
    if (keys.empty()) {
        return true;
    }
    SendKeys(keys);
    return HandleStrokes(window);
}

bool BringToFront(HWND window) {
    SetForegroundWindow(window);
    return WaitFor([window] { return GetForegroundWindow() == window; });
}

class Win32MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form = std::make_unique<TWin32MainWindow>(Events, 400);
        Form->QuitOnDestroy = false;
        Form->Show();
        Pump();
        EXPECT_EQ(Events.Take(), Strings{"FormShow"});
    }

    void Append(TLogKind kind, const std::string& text) {
        Log.Append(kind, text);
        Form->ShowLogLines(Log);
    }

    TRecordingEvents Events;
    TLogModel Log;
    std::unique_ptr<TWin32MainWindow> Form;
};

TEST_F(Win32MainWindowTest, TheMenusReadAsSpecifiedAndReachTheBehaviour) {
    const HMENU bar = Form->Menu();
    EXPECT_EQ(MenuTexts(bar), (std::vector<std::wstring>{L"Файл", L"Вид", L"Сервис", L"?"}));
    EXPECT_EQ(MenuTexts(GetSubMenu(bar, 0)),
              (std::vector<std::wstring>{L"Сохранить", L"Запускать при входе в систему", L"-",
                                         L"Выход"}));
    EXPECT_EQ(MenuTexts(GetSubMenu(bar, 1)),
              (std::vector<std::wstring>{L"Только ошибки", L"Параметры связи", L"HEX данные"}));
    EXPECT_EQ(MenuTexts(GetSubMenu(bar, 2)), (std::vector<std::wstring>{L"Сайты…", L"Порты…"}));
    // "?" is a command of its own, not a menu.
    EXPECT_EQ(GetSubMenu(bar, 3), nullptr);
    EXPECT_EQ(TextOf(Form->Handle()), Wide(LogText::kCaption));

    const struct {
        Strings Path;
        std::string Handler;
    } items[] = {
        {{"Файл", "Сохранить"}, "M1_SaveClick"},
        {{"Файл", "Запускать при входе в систему"}, "M1_StartAtLoginClick"},
        {{"Файл", "Выход"}, "M1_ExitClick"},
        {{"Вид", "Только ошибки"}, "M2_ErrorClick"},
        {{"Вид", "Параметры связи"}, "M2_SetClick"},
        {{"Вид", "HEX данные"}, "M2_HexClick"},
        {{"?"}, "M_HelpClick"},
        {{"Сервис", "Сайты…"}, "M3_SitesClick"},
        {{"Сервис", "Порты…"}, "M3_PortsClick"},
    };
    for (const auto& item : items) {
        const UINT command = CommandOf(bar, item.Path);
        ASSERT_NE(command, 0U) << item.Handler;
        SendMessageW(Form->Handle(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
        EXPECT_EQ(Events.Take(), Strings{item.Handler});
    }
}

// The window shown as the behaviour says, and only the operator's minimizing passed in: a
// minimizing of the behaviour's own (started at login without a tray) that came back as the
// operator's would hide the window where nothing brings it back.
TEST_F(Win32MainWindowTest, TheWindowIsShownAsToldAndTheOperatorsMinimizingIsPassedIn) {
    const HWND window = Form->Handle();
    const HMENU file = GetSubMenu(Form->Menu(), 0);
    const UINT startAtLogin = CommandOf(Form->Menu(), {"Файл", "Запускать при входе в систему"});
    for (const bool checked : {true, false}) {
        Form->ShowStartAtLoginCheck(checked);
        EXPECT_EQ((GetMenuState(file, startAtLogin, MF_BYCOMMAND) & MF_CHECKED) != 0, checked);
    }
    const struct {
        const char* Name;
        std::function<void()> Do;
        bool Visible;
        bool Iconic;
        Strings Events;
    } steps[] = {
        {"hidden", [this] { Form->ShowWindowAs(TWindowShown::Hidden); }, false, false, {}},
        {"normal", [this] { Form->ShowWindowAs(TWindowShown::Normal); }, true, false, {}},
        {"minimized as told",
         [this] { Form->ShowWindowAs(TWindowShown::Minimized); },
         true,
         true,
         {}},
        {"normal from minimized",
         [this] { Form->ShowWindowAs(TWindowShown::Normal); },
         true,
         false,
         {}},
        {"the operator minimizes",
         [window] { SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); },
         true,
         true,
         {"WindowMinimized"}},
        {"hidden while minimized",
         [this] { Form->ShowWindowAs(TWindowShown::Hidden); },
         false,
         true,
         {}},
        {"normal from hidden",
         [this] { Form->ShowWindowAs(TWindowShown::Normal); },
         true,
         false,
         {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.Name);
        step.Do();
        Pump();
        EXPECT_EQ(IsWindowVisible(window) != FALSE, step.Visible);
        EXPECT_EQ(IsIconic(window) != FALSE, step.Iconic);
        EXPECT_EQ(Form->WindowInSight(), step.Visible && !step.Iconic);
        EXPECT_EQ(Events.Take(), step.Events);
    }
}

// A tray that records what the icon and its window pass in.
class TRecordingTrayEvents : public TTrayEvents {
public:
    void TrayAppeared() override { Calls.push_back("TrayAppeared"); }
    void TrayGone() override { Calls.push_back("TrayGone"); }
    void TrayClicked() override { Calls.push_back("TrayClicked"); }
    void TrayShowWindowClick() override { Calls.push_back("TrayShowWindowClick"); }
    void TraySitesClick() override { Calls.push_back("TraySitesClick"); }
    void TrayStartAtLoginClick() override { Calls.push_back("TrayStartAtLoginClick"); }
    void TrayExitClick() override { Calls.push_back("TrayExitClick"); }
    void NotificationClicked() override { Calls.push_back("NotificationClicked"); }

    Strings Take() { return std::exchange(Calls, {}); }

    Strings Calls;
};

// The colour of the icon's pixel at (x, y) of the drawing's 64 units, 0xRRGGBB, and its alpha.
std::pair<uint32_t, uint32_t> IconPixel(HICON icon, double x, double y) {
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        return {0, 0};
    }
    BITMAP bitmap{};
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    const int size = bitmap.bmWidth;
    BITMAPINFO format{};
    format.bmiHeader.biSize = sizeof format.bmiHeader;
    format.bmiHeader.biWidth = size;
    format.bmiHeader.biHeight = -size;
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> pixels(static_cast<size_t>(size * size));
    const HDC screen = GetDC(nullptr);
    GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(size), pixels.data(), &format,
              DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    const uint32_t pixel = pixels[static_cast<size_t>(static_cast<int>(y * size / 64) * size +
                                                      static_cast<int>(x * size / 64))];
    return {pixel & 0xFFFFFF, pixel >> 24};
}

// Shell_NotifyIconW takes the icon with each state's picture; the shell's messages, the menu's
// commands and the balloon's click reach the behaviour; after TaskbarCreated (the shell started
// again) the icon is put back by itself, and a tray that had none tells the behaviour that one
// came.
TEST(Win32TrayTest, TheShellTakesTheIconAndItsMessagesReachTheBehaviour) {
    TRecordingTrayEvents events;
    TWin32Tray tray(events);
    const std::string tooltip = "Modbus мост, порт 19284\nЗапросов ещё не было";
    for (const TTrayPicture picture :
         {TTrayPicture::Idle, TTrayPicture::Serving, TTrayPicture::Failed, TTrayPicture::Asking}) {
        SCOPED_TRACE(static_cast<int>(picture));
        ASSERT_TRUE(tray.ShowTrayIcon(picture, tooltip)) << Win32ErrorText(tray.LastError());
        EXPECT_TRUE(tray.IconAdded());
        const auto [colour, alpha] = IconPixel(tray.IconShown(), 46, 46);
        EXPECT_EQ(alpha, 0xFFu);
        if (picture != TTrayPicture::Idle) {
            EXPECT_EQ(colour, TrayMarkColour(picture));
        }
    }
    // A tooltip longer than the shell's field, cut inside a character of two UTF-16 units.
    ASSERT_TRUE(tray.ShowTrayIcon(TTrayPicture::Idle, std::string(126, 'x') + "\xF0\x9F\x94\x8C"));
    for (const bool checked : {true, false}) {
        tray.ShowStartAtLoginCheck(checked);
        EXPECT_EQ((GetMenuState(tray.Menu(), TWin32Tray::kStartAtLoginCommand, MF_BYCOMMAND) &
                   MF_CHECKED) != 0,
                  checked);
    }
    EXPECT_EQ(MenuTexts(tray.Menu()),
              (std::vector<std::wstring>{L"Показать окно", L"Сайты…",
                                         L"Запускать при входе в систему", L"-", L"Выход"}));
    const struct {
        UINT Message;
        WPARAM WParam;
        LPARAM LParam;
        Strings Calls;
    } messages[] = {
        {TWin32Tray::kCallbackMessage, TWin32Tray::kIconId, WM_LBUTTONUP, {"TrayClicked"}},
        {TWin32Tray::kCallbackMessage, TWin32Tray::kIconId, WM_MOUSEMOVE, {}},
        {TWin32Tray::kCallbackMessage,
         TWin32Tray::kIconId,
         NIN_BALLOONUSERCLICK,
         {"NotificationClicked"}},
        {WM_COMMAND, TWin32Tray::kShowWindowCommand, 0, {"TrayShowWindowClick"}},
        {WM_COMMAND, TWin32Tray::kSitesCommand, 0, {"TraySitesClick"}},
        {WM_COMMAND, TWin32Tray::kStartAtLoginCommand, 0, {"TrayStartAtLoginClick"}},
        {WM_COMMAND, TWin32Tray::kExitCommand, 0, {"TrayExitClick"}},
        // Another program's close request is not the tray's to answer.
        {WM_CLOSE, 0, 0, {}},
    };
    for (const auto& message : messages) {
        SCOPED_TRACE(message.Message);
        SendMessageW(tray.Handle(), message.Message, message.WParam, message.LParam);
        EXPECT_EQ(events.Take(), message.Calls);
    }
    EXPECT_TRUE(IsWindow(tray.Handle()));

    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    SendMessageW(tray.Handle(), taskbarCreated, 0, 0);
    EXPECT_TRUE(tray.IconAdded());
    EXPECT_EQ(events.Take(), Strings{});
    tray.RemoveTrayIcon();
    EXPECT_FALSE(tray.IconAdded());
    SendMessageW(tray.Handle(), taskbarCreated, 0, 0);
    EXPECT_EQ(events.Take(), Strings{"TrayAppeared"});
    EXPECT_FALSE(tray.IconAdded());
}

TEST_F(Win32MainWindowTest, EveryCloseGoesToTheOneCloseEntryWhichAloneEndsTheWindow) {
    const struct {
        UINT Message;
        WPARAM Parameter;
        LRESULT Result;
        Strings Calls;
    } closes[] = {
        // The close box, Alt+F4: the operator.
        {WM_SYSCOMMAND, SC_CLOSE, 0, {"CloseRequested(Operator)"}},
        // Another program (taskkill): nobody may be there to answer a box.
        {WM_CLOSE, 0, 0, {"CloseRequested(SessionEnd)"}},
        // Asked whether the session may end: yes, and nothing closes yet.
        {WM_QUERYENDSESSION, 0, TRUE, {}},
        {WM_ENDSESSION, TRUE, 0, {"CloseRequested(SessionEnd)"}},
        // Another program cancelled the end of the session.
        {WM_ENDSESSION, FALSE, 0, {}},
    };
    for (const auto& close : closes) {
        EXPECT_EQ(SendMessageW(Form->Handle(), close.Message, close.Parameter, 0), close.Result);
        EXPECT_EQ(Events.Take(), close.Calls) << close.Message;
        EXPECT_TRUE(IsWindow(Form->Handle()));
    }

    // The behaviour closes the window once its shutdown is done.
    const HWND window = Form->Handle();
    const HWND log = Form->LogControl();
    Events.Then = [this](const std::string&) { Form->CloseWindow(); };
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(IsWindow(log));
    EXPECT_EQ(Form->Handle(), nullptr);
    // Lines written after the close go nowhere, without a fault.
    Append(TLogKind::Info, "after the close");
}

TEST_F(Win32MainWindowTest, ViewChecksShowCheckMarksAndDisabledItems) {
    const struct {
        TViewChecks Checks;
    } cases[] = {
        {{{false, true}, {false, true}, {false, true}}},
        {{{true, true}, {true, false}, {false, false}}},
        {{{false, true}, {true, true}, {true, true}}},
    };
    const UINT commands[] = {TWin32MainWindow::kViewErrorCommand, TWin32MainWindow::kViewSetCommand,
                             TWin32MainWindow::kViewHexCommand};
    for (const auto& shown : cases) {
        Form->ShowViewChecks(shown.Checks);
        const TMenuCheck expected[] = {shown.Checks.ViewError, shown.Checks.ViewSet,
                                       shown.Checks.ViewHex};
        for (size_t item = 0; item < 3; ++item) {
            const UINT state = GetMenuState(Form->Menu(), commands[item], MF_BYCOMMAND);
            EXPECT_EQ((state & MF_CHECKED) != 0, expected[item].Checked) << item;
            EXPECT_EQ((state & MF_GRAYED) == 0, expected[item].Enabled) << item;
        }
    }
}

TEST_F(Win32MainWindowTest, LinesArriveInOrderEachInTheColoursAndStylesOfItsKind) {
    const std::vector<TShownLine> lines = {
        {TLogKind::Date, L"06-12-2026 16:48:29"},
        {TLogKind::Info, L"16:48:29.007\tСтарт"},
        {TLogKind::Send, L"16:48:30.100\t>> READ_HOLDING_REGISTERS"},
        {TLogKind::Receive, L"16:48:30.130\t<< READ_HOLDING_REGISTERS"},
        {TLogKind::Error, L"16:48:31.000\tError[124] - Нет ответа"},
        {TLogKind::Notice, L"16:48:31.001\tНужно увеличить"},
    };
    // Two batches: the second lands after the first.
    for (size_t index = 0; index < lines.size(); ++index) {
        Log.Append(lines[index].Kind, Utf8FromWide(lines[index].Text));
        if (index == 2 || index + 1 == lines.size()) {
            Form->ShowLogLines(Log);
        }
    }
    // Line breaks and a NUL inside a line's text keep it one whole line of the log.
    Append(TLogKind::Info, "16:48:32.000\ttwo\r\nparts\0x"s);
    std::vector<TShownLine> expected = lines;
    expected.push_back({TLogKind::Info, L"16:48:32.000\ttwo  parts x"});
    ExpectLines(Form->LogControl(), expected);
    // 14 pixels at the screen's resolution.
    const HDC screen = GetDC(nullptr);
    EXPECT_EQ(FormatOf(Form->LogControl(), 0, 1).yHeight,
              MulDiv(14, 144, GetDeviceCaps(screen, LOGPIXELSY)) * 10);
    ReleaseDC(nullptr, screen);
}

TEST_F(Win32MainWindowTest, PastItsLimitTheControlHoldsTheNewestLinesAndKeepsSelectionAndSight) {
    // A limit of 400 lines for this window: past it, the oldest 40 and more go at once.
    const auto lineText = [](size_t number) {
        return L"line " + std::to_wstring(number) + L"\tтекст \U0001F600 {x}\\";
    };
    std::vector<TShownLine> all;
    const auto append = [&](size_t count) {
        for (size_t index = 0; index < count; ++index) {
            const TLogKind kind = kAllKinds[all.size() % std::size(kAllKinds)];
            all.push_back({kind, lineText(all.size())});
            Append(kind, Utf8FromWide(all.back().Text));
        }
    };
    append(390);
    const HWND control = Form->LogControl();
    // The operator scrolls up and selects a word of a line that stays.
    SendMessageW(control, WM_VSCROLL, SB_TOP, 0);
    SendMessageW(control, EM_LINESCROLL, 0, 150);
    const LONG selected = static_cast<LONG>(SendMessageW(control, EM_LINEINDEX, 200, 0)) + 5;
    CHARRANGE range{selected, selected + 3};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(SelectedText(control), L"200");
    const LONG topLine = FirstVisibleLine(control);
    ASSERT_GT(topLine, 41);

    append(20);
    EXPECT_EQ(SelectedText(control), L"200");
    EXPECT_EQ(FirstVisibleLine(control), topLine - 41);
    // 41 lines went at the 401st: the newest 360 stayed, and 9 more came.
    ExpectLines(control, {all.end() - 369, all.end()});

    append(400);
    const auto shown = static_cast<ptrdiff_t>(ControlLines(control).size());
    EXPECT_LE(shown, 400);
    ExpectLines(control, {all.end() - shown, all.end()});
    EXPECT_TRUE(IsWindowVisible(Form->NoticeLine()));
    EXPECT_NE(TextOf(Form->NoticeLine()).find(L"в памяти: 810"), std::wstring::npos);
    EXPECT_LE(ClientRectOf(Form->NoticeLine()).bottom, ClientRectOf(control).top);
}

TEST_F(Win32MainWindowTest, TheControlDropsWhatTheModelDrops) {
    TWin32MainWindow form(Events, 5000);
    form.QuitOnDestroy = false;
    // The model keeps its newest megabytes and drops a whole one of its oldest lines at a time.
    TLogModel log;
    log.SetLimitBytes(size_t{2} << 20);
    const std::string padding(3000, 'x');
    while (log.Dropped() == 0) {
        log.Append(TLogKind::Info, std::to_string(log.Dropped() + log.Size()) + padding);
        if (log.Size() % 50 == 0 || log.Dropped() != 0) {
            form.ShowLogLines(log);
        }
    }
    const std::vector<std::wstring> shown = ControlLines(form.LogControl());
    ASSERT_EQ(shown.size(), log.Size());
    EXPECT_EQ(shown.front(), Wide(log.Line(0).Text));
    EXPECT_EQ(shown.back(), Wide(log.Line(log.Size() - 1).Text));
    form.ShowLogNotice("Старые строки удалены");
    EXPECT_EQ(TextOf(form.NoticeLine()), L"Старые строки удалены");
}

TEST_F(Win32MainWindowTest, TheLogFollowsNewLinesUntilTheOperatorScrollsAwayWhateverBarsComeAndGo) {
    const HWND control = Form->LogControl();
    for (int line = 0; line < 100; ++line) {
        Append(TLogKind::Info, "line " + std::to_string(line));
    }
    // A line wider than the view moves the view to its end as it is inserted; the view stays
    // at the start of the lines.
    Append(TLogKind::Info, std::string(300, 'w'));
    Pump();
    EXPECT_TRUE(LastLineInSight(control));
    POINT scroll{};
    SendMessageW(control, EM_GETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&scroll));
    EXPECT_EQ(scroll.x, 0);

    // Scrolled to the top, the view stays there and the selection stays with its text.
    SendMessageW(control, WM_VSCROLL, SB_TOP, 0);
    CHARRANGE selected{2, 6};
    SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&selected));
    Append(TLogKind::Info, "one more");
    EXPECT_EQ(FirstVisibleLine(control), 0);
    CHARRANGE after{};
    SendMessageW(control, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&after));
    EXPECT_EQ(after.cpMin, 2);
    EXPECT_EQ(after.cpMax, 6);

    // Back at the bottom, it follows again, while the question bar comes and goes.
    SendMessageW(control, WM_VSCROLL, SB_BOTTOM, 0);
    Append(TLogKind::Info, "and another");
    EXPECT_TRUE(LastLineInSight(control));
    Form->ShowOriginQuestion("https://new.example");
    EXPECT_TRUE(LastLineInSight(control));
    Append(TLogKind::Info, "with the question shown");
    EXPECT_TRUE(LastLineInSight(control));
    Form->ShowOriginQuestion({});
    EXPECT_TRUE(LastLineInSight(control));
}

// A bar that comes with a batch of lines (or whose thumb moves with it) while drawing waits for
// the batch must be drawn once the batch is in: the strip it takes otherwise keeps the text that
// was there, until the window is resized.
TEST_F(Win32MainWindowTest, TheLogsScrollBarsAreDrawnOnceABatchOfLinesBringsOrMovesThem) {
    const struct {
        const char* What;
        int LinesBefore;
        int Lines;
        size_t Width;
        LONG Bar;
    } cases[] = {
        {"lines past the view's height", 0, 60, 60, OBJID_VSCROLL},
        {"a line wider than the view", 0, 1, 300, OBJID_HSCROLL},
        {"lines below a bar already shown", 60, 100, 60, OBJID_VSCROLL},
    };
    for (const auto& batch : cases) {
        TLogModel log;
        TWin32MainWindow form(Events, 400);
        form.QuitOnDestroy = false;
        form.Show();
        const HWND control = form.LogControl();
        const auto append = [&](int count) {
            for (int line = 0; line < count; ++line) {
                log.Append(TLogKind::Info, std::to_string(line) + std::string(batch.Width, 'W'));
            }
            form.ShowLogLines(log);
            Pump();
        };
        append(batch.LinesBefore);
        const RECT before = ScrollBarRect(control, batch.Bar);
        EXPECT_EQ(IsRectEmpty(&before) != FALSE, batch.LinesBefore == 0) << batch.What;

        append(batch.Lines);
        const RECT bar = ScrollBarRect(control, batch.Bar);
        ASSERT_FALSE(IsRectEmpty(&bar)) << batch.What;
        const std::vector<uint32_t> shown = PixelsShown(control, bar);
        RedrawWindow(control, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
        EXPECT_TRUE(shown == PixelsShown(control, bar))
            << batch.What << ": the bar on screen is not the bar drawn afresh";
    }
    Events.Take();
}

// The view follows new lines unless the operator scrolled up, whatever the window's size did
// meanwhile; a line also comes while the window is maximized or minimized. A log that fits the
// maximized window whole is at its bottom there, and follows from then on.
TEST_F(Win32MainWindowTest, MaximizeMinimizeAndRestoreKeepTheViewWhereTheOperatorLeftIt) {
    constexpr LONG kFollows = -1;
    const struct {
        int Lines;
        const char* Name;
        int Show;
        // The first line in sight the operator scrolled to, or kFollows.
        LONG ScrolledTo;
        LONG Expected;
    } cases[] = {
        {40, "maximized", SW_MAXIMIZE, kFollows, kFollows},
        {300, "maximized", SW_MAXIMIZE, kFollows, kFollows},
        {300, "maximized", SW_MAXIMIZE, 120, 120},
        {40, "maximized", SW_MAXIMIZE, 5, kFollows},
        {40, "minimized", SW_MINIMIZE, kFollows, kFollows},
        {300, "minimized", SW_MINIMIZE, kFollows, kFollows},
        {300, "minimized", SW_MINIMIZE, 120, 120},
        {40, "minimized", SW_MINIMIZE, 5, 5},
    };
    for (const auto& state : cases) {
        const std::string which = std::to_string(state.Lines) + " lines, " + state.Name +
                                  ", scrolled to " + std::to_string(state.ScrolledTo);
        TLogModel log;
        TWin32MainWindow form(Events, 400);
        form.QuitOnDestroy = false;
        form.Show();
        const HWND control = form.LogControl();
        const auto append = [&](const std::string& text) {
            log.Append(TLogKind::Info, text);
            form.ShowLogLines(log);
        };
        for (int line = 0; line < state.Lines; ++line) {
            append("line " + std::to_string(line));
        }
        Pump();
        if (state.ScrolledTo != kFollows) {
            SendMessageW(control, WM_VSCROLL, SB_TOP, 0);
            SendMessageW(control, EM_LINESCROLL, 0, state.ScrolledTo);
            ASSERT_EQ(FirstVisibleLine(control), state.ScrolledTo) << which;
        }
        ShowWindow(form.Handle(), state.Show);
        Pump();
        append("while the window's size changed");
        ShowWindow(form.Handle(), SW_RESTORE);
        Pump();
        const auto expectView = [&](const char* when) {
            if (state.Expected == kFollows) {
                EXPECT_TRUE(LastLineInSight(control)) << which << ", " << when;
            } else {
                EXPECT_EQ(FirstVisibleLine(control), state.Expected) << which << ", " << when;
            }
        };
        expectView("restored");
        append("after the restore");
        Pump();
        expectView("a line later");
    }
    Events.Take();
}

TEST_F(Win32MainWindowTest, StatusPanelsShowTheirTextsIn19PixelsAtTheBottom) {
    const HWND status = Form->StatusBar();
    const std::array<std::string, 4> texts = {"COM3", "ADDR 17", "115200 бод",
                                              "Тестовое устройство"};
    Form->ShowStatusPanels(texts);
    for (size_t panel = 0; panel < 4; ++panel) {
        wchar_t text[128] = {};
        SendMessageW(status, SB_GETTEXTW, panel, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(std::wstring(text), Wide(texts[panel])) << panel;
    }
    int edges[4] = {};
    ASSERT_EQ(SendMessageW(status, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 4);
    EXPECT_EQ(edges[0], 50);
    EXPECT_EQ(edges[1], 110);
    EXPECT_EQ(edges[2], 180);
    const RECT placed = ClientRectOf(status);
    RECT client{};
    GetClientRect(Form->Handle(), &client);
    EXPECT_EQ(placed.bottom - placed.top, 19);
    EXPECT_EQ(placed.bottom, client.bottom);
    EXPECT_EQ(ClientRectOf(Form->LogControl()).bottom, placed.top);

    Form->ShowStatusPanels({});
    wchar_t text[128] = L"unchanged";
    SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_EQ(std::wstring(text), L"");
}

// The view passes each press on and changes nothing itself: whether a press answers is the
// behaviour's to say, which then hides the bar or puts the next question.
TEST_F(Win32MainWindowTest, TheOriginQuestionAsksInsideTheWindowAndPassesThePressesOn) {
    const TOriginBar& bar = Form->OriginBar();
    EXPECT_FALSE(IsWindowVisible(bar.Handle()));
    const struct {
        std::string Origin;
        HWND Button;
        std::string Answer;
    } cases[] = {
        {"https://new.example", bar.AllowButton(), "OriginAnswered(https://new.example, allowed)"},
        {"https://other.example", bar.DenyButton(),
         "OriginAnswered(https://other.example, denied)"},
    };
    for (const auto& asked : cases) {
        Form->ShowOriginQuestion("https://earlier.example");
        Form->ShowOriginQuestion(asked.Origin);
        ASSERT_TRUE(IsWindowVisible(bar.Handle()));
        EXPECT_EQ(TextOf(bar.Question()), Wide(OriginQuestionText(asked.Origin)));
        // Р and З underlined: the access keys.
        EXPECT_EQ(TextOf(bar.AllowButton()), L"&Разрешить");
        EXPECT_EQ(TextOf(bar.DenyButton()), L"&Запретить");
        // The log makes room below the bar.
        EXPECT_EQ(ClientRectOf(Form->LogControl()).top, ClientRectOf(bar.Handle()).bottom);
        SendMessageW(asked.Button, BM_CLICK, 0, 0);
        EXPECT_EQ(Events.Take(), Strings{asked.Answer});
        EXPECT_TRUE(IsWindowVisible(bar.Handle()));
        Form->ShowOriginQuestion({});
        EXPECT_FALSE(IsWindowVisible(bar.Handle()));
        EXPECT_EQ(ClientRectOf(Form->LogControl()).top, 0);
    }
    // An answer may put the next question at once.
    Events.Then = [this](const std::string&) { Form->ShowOriginQuestion("https://next.example"); };
    Form->ShowOriginQuestion("https://first.example");
    SendMessageW(bar.AllowButton(), BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindowVisible(bar.Handle()));
    EXPECT_EQ(bar.Origin(), "https://next.example");
}

// The question bar answers to the keyboard as a dialog does, yet never takes the keys itself:
// Tab and Shift+Tab go round the log and the two buttons, Space and Enter press the button that
// has the focus, Alt with Р or З (either case) presses its button from anywhere in the window;
// the focus stays on the log when a question comes, and leaves the buttons when it goes or
// another takes its place. Real key strokes through the system's input, under wine.
TEST_F(Win32MainWindowTest, TheQuestionBarAnswersToTheKeyboardButNeverTakesTheFocus) {
    const TOriginBar& bar = Form->OriginBar();
    const HWND log = Form->LogControl();
    const HWND allow = bar.AllowButton();
    const HWND deny = bar.DenyButton();
    ASSERT_TRUE(BringToFront(Form->Handle()));
    const std::string allowed = "OriginAnswered(https://new.example, allowed)";
    const std::string denied = "OriginAnswered(https://new.example, denied)";
    const struct {
        const char* Name;
        std::vector<TStroke> Strokes;
        Strings Presses;
        HWND Focus;
    } rows[] = {
        {"Tab, Space", {kTab, kSpace}, {allowed}, allow},
        {"Tab, Tab, Space", {kTab, kTab, kSpace}, {denied}, deny},
        {"Tab, Enter", {kTab, kEnter}, {allowed}, allow},
        {"Shift+Tab, Enter", {kShiftTab, kEnter}, {denied}, deny},
        {"Tab round to the log", {kTab, kTab, kTab}, {}, log},
        {"Space and Enter in the log", {kSpace, kEnter}, {}, log},
        {"Alt+р", {AltWith(L'р')}, {allowed}, log},
        {"Alt+З", {AltWith(L'З')}, {denied}, log},
        {"Alt+р from the other button", {kTab, kTab, AltWith(L'р')}, {allowed}, deny},
        {"Alt with other letters", {AltWith(L'x'), AltWith(L'я'), AltWith(L'p')}, {}, log},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        SetFocus(log);
        Form->ShowOriginQuestion("https://new.example");
        EXPECT_EQ(GetFocus(), log);
        ASSERT_TRUE(Type(*Form, row.Strokes));
        EXPECT_EQ(Events.Take(), row.Presses);
        EXPECT_EQ(GetFocus(), row.Focus);
        // Gone, the question leaves no hidden button with the keys.
        Form->ShowOriginQuestion({});
        EXPECT_EQ(GetFocus(), log);
    }
    // Another question in the place of one whose button has the focus starts without it.
    Form->ShowOriginQuestion("https://new.example");
    ASSERT_TRUE(Type(*Form, {kTab}));
    ASSERT_EQ(GetFocus(), allow);
    Form->ShowOriginQuestion("https://next.example");
    EXPECT_EQ(GetFocus(), log);
    Form->ShowOriginQuestion({});
    // Without a question the keys find no button.
    ASSERT_TRUE(Type(*Form, {kTab, kSpace, AltWith(L'р'), AltWith(L'з')}));
    EXPECT_EQ(Events.Take(), Strings{});
    EXPECT_EQ(GetFocus(), log);
}

// The window as the program runs it, with its behaviour, whose clock the test moves on: keys
// answer a page's question only once it has been in view for half a second. Keys the operator
// typed just before the question came (still in the input queue as it comes) do not answer it.
TEST(Win32WindowWithBehaviourTest, KeysAnswerTheQuestionOnlyAfterItsFirstHalfSecond) {
    const TTempFolder folder("window-keys");
    ASSERT_FALSE(folder.Path().empty());
    struct TProgramWindow {
        explicit TProgramWindow(const std::string& folder)
            : Behaviour(Window, folder + "/modbus-bridge.ini", folder + "/save", 0),
              Window(Behaviour) {}
        TWindowBehaviour Behaviour;
        TWin32MainWindow Window;
    } program(folder.Path());
    uint64_t nowMs = 1'000'000;
    program.Behaviour.ClockMs = [&nowMs] { return nowMs; };
    program.Window.QuitOnDestroy = false;
    program.Window.Show();
    ASSERT_TRUE(BringToFront(program.Window.Handle()));
    const uint16_t port = program.Behaviour.ListeningPort();
    ASSERT_NE(port, 0);

    // A page asks while the keys wait in the input queue: only the posted messages (the
    // server's) run until its reply, then the keys come to the bar that is now in view.
    const auto askWithKeysWaiting = [&](const std::string& origin,
                                        const std::vector<TStroke>& keys) {
        SendKeys(keys);
        std::atomic<int> code{-2};
        std::thread page([&code, port, origin] { code = ErrorCodeForOrigin(port, origin); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (code == -2 && std::chrono::steady_clock::now() < deadline) {
            MSG message{};
            if (PeekMessageW(&message, nullptr, 0, 0,
                             PM_REMOVE | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            } else {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE | QS_SENDMESSAGE);
            }
        }
        page.join();
        EXPECT_EQ(code, 127) << origin;
        EXPECT_EQ(program.Behaviour.OriginAsked(), origin);
        EXPECT_TRUE(HandleStrokes(program.Window));
    };
    const auto stored = [&folder](const std::string& origin) {
        return TIniFile(folder.Path() + "/modbus-bridge.ini").ReadString("Origins", origin, "");
    };
    const uint64_t delay = TOriginQuestions::kAnswerDelayMs;

    const std::string first = "https://first.example";
    uint64_t shownAt = nowMs;
    askWithKeysWaiting(first, {kTab, kSpace, kEnter});
    EXPECT_EQ(program.Behaviour.OriginAsked(), first);
    // The Tab came to the bar in view: the focus is on "Разрешить".
    EXPECT_EQ(GetFocus(), program.Window.OriginBar().AllowButton());
    nowMs = shownAt + delay - 1;
    ASSERT_TRUE(Type(program.Window, {kSpace, kEnter, AltWith(L'р')}));
    EXPECT_EQ(program.Behaviour.OriginAsked(), first);
    EXPECT_EQ(stored(first), "");
    nowMs = shownAt + delay;
    ASSERT_TRUE(Type(program.Window, {kSpace}));
    EXPECT_EQ(program.Behaviour.OriginAsked(), "");
    EXPECT_EQ(stored(first), "1");
    EXPECT_EQ(GetFocus(), program.Window.LogControl());

    const std::string second = "https://second.example";
    shownAt = nowMs;
    askWithKeysWaiting(second, {kTab, kTab, kSpace});
    EXPECT_EQ(program.Behaviour.OriginAsked(), second);
    EXPECT_EQ(GetFocus(), program.Window.OriginBar().DenyButton());
    nowMs = shownAt + delay - 1;
    ASSERT_TRUE(Type(program.Window, {AltWith(L'З')}));
    EXPECT_EQ(program.Behaviour.OriginAsked(), second);
    nowMs = shownAt + delay;
    ASSERT_TRUE(Type(program.Window, {AltWith(L'З')}));
    EXPECT_EQ(program.Behaviour.OriginAsked(), "");
    EXPECT_EQ(stored(second), "0");
    program.Behaviour.CloseRequested(TCloseCause::Operator);
}

TEST_F(Win32MainWindowTest, PlacementComesBackAsGivenWithinTheMinimumSizeAndOnlyInTheNormalState) {
    const struct {
        TWindowPlacement Given;
        TWindowPlacement Placed;
    } cases[] = {
        {{100, 100, 600, 400}, {100, 100, 600, 400}},
        {{40, 60, 820, 530}, {40, 60, 820, 530}},
        {{10, 20, 300, 200}, {10, 20, 600, 400}},
    };
    for (const auto& placement : cases) {
        Form->PlaceWindow(placement.Given);
        EXPECT_EQ(Form->NormalPlacement(), placement.Placed);
    }
    // The operator cannot make it smaller either.
    SetWindowPos(Form->Handle(), nullptr, 0, 0, 200, 100, SWP_NOZORDER | SWP_NOMOVE);
    EXPECT_EQ(Form->NormalPlacement(), (TWindowPlacement{10, 20, 600, 400}));

    ShowWindow(Form->Handle(), SW_MAXIMIZE);
    EXPECT_EQ(Form->NormalPlacement(), std::nullopt);
    Form->PlaceWindow({100, 100, 640, 480});
    EXPECT_FALSE(IsZoomed(Form->Handle()));
    EXPECT_EQ(Form->NormalPlacement(), (TWindowPlacement{100, 100, 640, 480}));
}

TEST_F(Win32MainWindowTest, TheAboutBoxAndTheWaitingReportWaitForTheOperator) {
    std::vector<TSeenBox> seen;
    const TDialogWatch watch([&seen](HWND box) {
        seen.push_back(Seen(box));
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    Form->ShowAboutBox(std::string(WindowText::kAboutCaption), std::string(WindowText::kAboutText));
    Form->ShowErrorReport("Cannot create file C:\\журнал.rtf", TReportKind::Waiting);
    ASSERT_EQ(seen.size(), 2U);
    EXPECT_EQ(seen[0].Caption, L"О программе");
    EXPECT_EQ(seen[0].Text, Wide(WindowText::kAboutText));
    // Without an owner and without an icon.
    EXPECT_EQ(seen[0].Owner, nullptr);
    EXPECT_FALSE(seen[0].Icon);
    EXPECT_EQ(seen[1].Caption, L"modbus-bridge");
    EXPECT_EQ(seen[1].Text, L"Cannot create file C:\\журнал.rtf");
    EXPECT_EQ(seen[1].Owner, Form->Handle());
}

TEST_F(Win32MainWindowTest, TheReportBesideTheWindowLetsItGoOnAndClose) {
    const std::wstring text = L"Windows socket error: порт занят (10048), on API 'bind'";
    Form->ShowErrorReport(Utf8FromWide(text), TReportKind::Beside);
    HWND box = nullptr;
    ASSERT_TRUE(WaitFor([&box, &text] {
        box = FindWindowW(L"#32770", L"modbus-bridge");
        return box != nullptr && MessageBoxText(box) == text;
    }));
    // The window still takes the operator's commands and its close while the box is open.
    SendMessageW(Form->Handle(), WM_COMMAND, TWin32MainWindow::kViewHexCommand, 0);
    Events.Then = [this](const std::string&) { Form->CloseWindow(); };
    SendMessageW(Form->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(Events.Take(), (Strings{"M2_HexClick", "CloseRequested(Operator)"}));
    EXPECT_EQ(Form->Handle(), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([box] { return !IsWindow(box); }));
}

// A burst of faults: one thread for all their boxes, not one each, and one box at a time, in the
// order of the reports. The window's end closes the open box and drops the rest.
TEST_F(Win32MainWindowTest, ABurstOfReportsBesideTheWindowTakesOneThreadAndOneBoxAtATime) {
    const size_t threadsBefore = ThreadCount();
    for (int index = 0; index < 5; ++index) {
        Form->ShowErrorReport("report " + std::to_string(index), TReportKind::Beside);
    }
    EXPECT_LE(ThreadCount(), threadsBefore + 1);
    for (int index = 0; index < 3; ++index) {
        std::vector<HWND> boxes;
        ASSERT_TRUE(WaitFor([&boxes, index] {
            boxes = ReportBoxes();
            return boxes.size() == 1 &&
                   MessageBoxText(boxes[0]) == L"report " + std::to_wstring(index);
        })) << boxes.size()
            << " boxes instead of report " << index << " alone";
        PostMessageW(boxes[0], WM_COMMAND, IDOK, 0);
        ASSERT_TRUE(WaitFor([&boxes] { return !IsWindow(boxes[0]); }));
    }
    ASSERT_TRUE(WaitFor([] { return ReportBoxes().size() == 1; }));
    Form.reset();
    EXPECT_TRUE(ReportBoxes().empty());
}

TEST_F(Win32MainWindowTest, TheSaveDialogStartsInTheFolderOffersTheLastPathAndAddsRtf) {
    const TTempFolder temp("save-dialog");
    ASSERT_FALSE(temp.Path().empty());
    const std::string folder =
        Utf8FromWide(std::filesystem::path(temp.Path()).make_preferred().wstring());
    std::ofstream(temp.Path() + "/exists.txt") << "kept";

    // What the operator does in each dialog box that opens: types a name (or takes the one
    // offered) and presses OK or Cancel; and answers the question about an existing file.
    struct TStep {
        std::wstring Typed;
        WPARAM Button;
    };
    std::vector<TStep> steps;
    std::vector<std::wstring> offered;
    std::vector<std::wstring> questions;
    const TDialogWatch watch([&](HWND dialog) {
        HWND name = GetDlgItem(dialog, cmb13);
        if (name == nullptr) {
            name = GetDlgItem(dialog, edt1);
        }
        if (name == nullptr) {
            // Not the file dialog: the question whether to replace a file.
            questions.push_back(MessageBoxText(dialog));
            PostMessageW(dialog, WM_COMMAND, IDYES, 0);
            return;
        }
        offered.push_back(TextOf(name));
        const TStep step = steps.front();
        steps.erase(steps.begin());
        if (!step.Typed.empty()) {
            SetWindowTextW(name, step.Typed.c_str());
        }
        PostMessageW(dialog, WM_COMMAND, step.Button, 0);
    });

    steps = {{L"journal", IDOK}};
    EXPECT_EQ(Form->AskSavePath(folder, ""), folder + "\\journal.rtf");
    steps = {{L"", IDOK}};
    EXPECT_EQ(Form->AskSavePath(folder, folder + "\\journal.rtf"), folder + "\\journal.rtf");
    steps = {{L"journal", IDCANCEL}};
    EXPECT_EQ(Form->AskSavePath(folder, ""), std::nullopt);
    steps = {{L"exists.txt", IDOK}};
    EXPECT_EQ(Form->AskSavePath(folder, ""), folder + "\\exists.txt");
    EXPECT_EQ(questions.size(), 1U);
    ASSERT_EQ(offered.size(), 4U);
    EXPECT_EQ(offered[0], L"");
    EXPECT_NE(offered[1].find(L"journal.rtf"), std::wstring::npos);
}

}  // namespace
