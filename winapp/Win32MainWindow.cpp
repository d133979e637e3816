#include "Win32MainWindow.h"

#include <commctrl.h>

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <vector>

#include "DialogTexts.h"
#include "LogLine.h"
#include "OriginBar.h"
#include "RichEditLog.h"
#include "Win32Dialogs.h"
#include "Win32SitesDialog.h"
#include "Win32Text.h"
#include "Win32WindowOwner.h"
#include "WindowTexts.h"

namespace {

constexpr wchar_t kClassName[] = L"ModbusBridgeMainWindow";
constexpr int kLogControlId = 10;
constexpr int kNoticePadding = 2;
constexpr COLORREF kNoticeText = RGB(128, 128, 128);
constexpr COLORREF kNoticeBackground = RGB(255, 255, 255);

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
    WNDCLASSEXW existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExW(instance, kClassName, &existing)) {
        return;
    }
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // The program's own icon when it carries one, else the system's.
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    if (windowClass.hIcon == nullptr) {
        windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    }
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        throw std::runtime_error("the main window's class: " + Win32ErrorText(GetLastError()));
    }
}

void AppendItem(HMENU menu, UINT flags, UINT_PTR id, std::string_view text) {
    AppendMenuW(menu, flags, id, WideFromUtf8(text).c_str());
}

HMENU MakeMenuBar() {
    const HMENU file = CreatePopupMenu();
    AppendItem(file, MF_STRING, TWin32MainWindow::kSaveCommand, WindowText::kMenuSave);
    AppendItem(file, MF_STRING, TWin32MainWindow::kStartAtLoginCommand,
               WindowText::kMenuStartAtLogin);
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendItem(file, MF_STRING, TWin32MainWindow::kExitCommand, WindowText::kMenuExit);
    const HMENU viewMenu = CreatePopupMenu();
    AppendItem(viewMenu, MF_STRING, TWin32MainWindow::kViewErrorCommand,
               WindowText::kMenuViewError);
    AppendItem(viewMenu, MF_STRING, TWin32MainWindow::kViewSetCommand, WindowText::kMenuViewSet);
    AppendItem(viewMenu, MF_STRING, TWin32MainWindow::kViewHexCommand, WindowText::kMenuViewHex);
    const HMENU service = CreatePopupMenu();
    AppendItem(service, MF_STRING, TWin32MainWindow::kSitesCommand, DialogText::kMenuSites);
    AppendItem(service, MF_STRING, TWin32MainWindow::kPortsCommand, DialogText::kMenuPorts);
    const HMENU bar = CreateMenu();
    AppendItem(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), WindowText::kMenuFile);
    AppendItem(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(viewMenu), WindowText::kMenuView);
    AppendItem(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(service), DialogText::kMenuService);
    // "?" opens the About box directly, without a menu of its own.
    AppendItem(bar, MF_STRING, TWin32MainWindow::kHelpCommand, WindowText::kMenuHelp);
    return bar;
}

HFONT MakeFont(int pixels, bool italic, const wchar_t* face) {
    return CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, italic ? TRUE : FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

int LineHeight(HFONT font) {
    const HDC screen = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(screen, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(screen, &metrics);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return metrics.tmHeight;
}

void SetMenuCheck(HMENU menu, UINT id, const TMenuCheck& check) {
    const UINT mark = check.Checked ? MF_CHECKED : MF_UNCHECKED;
    const UINT state = check.Enabled ? MF_ENABLED : MF_GRAYED;
    CheckMenuItem(menu, id, MF_BYCOMMAND | mark);
    EnableMenuItem(menu, id, MF_BYCOMMAND | state);
}

// The line about log lines that only the memory holds: the control shows the newest of them.
std::string ShownLinesNotice(size_t shown, size_t inMemory) {
    return "Строк в окне: " + std::to_string(shown) +
           " (последние); в памяти: " + std::to_string(inMemory) + ", их все записывает «" +
           std::string(WindowText::kMenuFile) + " → " + std::string(WindowText::kMenuSave) + "»";
}

}  // namespace

template <typename THandler>
void TWin32MainWindow::Guarded(THandler handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        ShowErrorReport(error.what(), TReportKind::Waiting);
    } catch (...) {
        ShowErrorReport("Unknown error", TReportKind::Waiting);
    }
}

TWin32MainWindow::TWin32MainWindow(TWindowEvents& events, size_t shownLinesMax) : Events(events) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWindowClass(instance, WindowProcedure);
    WindowFont = MakeFont(11, false, L"MS Sans Serif");
    NoticeFont = MakeFont(14, true, L"Courier New");
    NoticeBackground = CreateSolidBrush(kNoticeBackground);
    MenuBar = MakeMenuBar();
    Window = CreateWindowExW(0, kClassName, WideFromUtf8(LogText::kCaption).c_str(),
                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT,
                             kMinimumWidth, kMinimumHeight, nullptr, MenuBar, instance, this);
    if (Window == nullptr) {
        const std::string reason = Win32ErrorText(GetLastError());
        DestroyMenu(MenuBar);
        DeleteObject(WindowFont);
        DeleteObject(NoticeFont);
        DeleteObject(NoticeBackground);
        throw std::runtime_error("the main window: " + reason);
    }
    try {
        CreateParts(shownLinesMax);
    } catch (...) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
        DeleteObject(WindowFont);
        DeleteObject(NoticeFont);
        DeleteObject(NoticeBackground);
        throw;
    }
    LayOut();
}

void TWin32MainWindow::CreateParts(size_t shownLinesMax) {
    Log = std::make_unique<TRichEditLog>(Window, kLogControlId, shownLinesMax);
    Notice = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | SS_LEFTNOWORDWRAP | SS_NOPREFIX, 0, 0, 0,
                             0, Window, nullptr, GetModuleHandleW(nullptr), nullptr);
    SendMessageW(Notice, WM_SETFONT, reinterpret_cast<WPARAM>(NoticeFont), FALSE);
    // The window sizes the bar itself: exactly the bar's height, at the bottom.
    Status =
        CreateWindowExW(0, STATUSCLASSNAMEW, nullptr,
                        WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_NORESIZE | CCS_NOPARENTALIGN,
                        0, 0, 0, 0, Window, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (Notice == nullptr || Status == nullptr) {
        throw std::runtime_error("the main window's parts: " + Win32ErrorText(GetLastError()));
    }
    SendMessageW(Status, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont), FALSE);
    // Right edges; the last panel takes the rest of the bar, so a long device name is not cut.
    int edges[4] = {};
    int right = 0;
    for (int index = 0; index < 3; ++index) {
        right += kPanelWidths[index];
        edges[index] = right;
    }
    edges[3] = -1;
    SendMessageW(Status, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
    Question = std::make_unique<TOriginBar>(
        Window, WindowFont, [this](const std::string& origin, bool allowed) {
            Guarded([&] { Events.OriginAnswered(origin, allowed); });
        });
}

TWin32MainWindow::~TWin32MainWindow() {
    if (Window != nullptr) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
    }
    Question.reset();
    Log.reset();
    DeleteObject(WindowFont);
    DeleteObject(NoticeFont);
    DeleteObject(NoticeBackground);
}

void TWin32MainWindow::Show() {
    if (!Started) {
        Started = true;
        Guarded([this] { Events.FormShow(); });
    }
    if (Window != nullptr && !ShownAsTold) {
        ShowWindow(Window, SW_SHOWNORMAL);
        UpdateWindow(Window);
    }
}

bool TWin32MainWindow::TakeKey(const MSG& message) {
    if (Window == nullptr || (message.hwnd != Window && !IsChild(Window, message.hwnd))) {
        return false;
    }
    const bool control = GetKeyState(VK_CONTROL) < 0;
    const bool alt = GetKeyState(VK_MENU) < 0;
    switch (message.message) {
        case WM_KEYDOWN:
            if (message.wParam == VK_TAB && !control && !alt) {
                MoveFocus(GetKeyState(VK_SHIFT) < 0);
                return true;
            }
            if (message.wParam == VK_RETURN && !control && !alt) {
                return Question->PressFocused(message.hwnd);
            }
            return false;
        case WM_SYSCHAR:
            return !control && Question->PressAccessKey(static_cast<wchar_t>(message.wParam));
        default:
            return false;
    }
}

void TWin32MainWindow::MoveFocus(bool backwards) {
    std::vector<HWND> stops = {Log->Handle()};
    if (Question->Shown()) {
        stops.push_back(Question->AllowButton());
        stops.push_back(Question->DenyButton());
    }
    const auto at = std::find(stops.begin(), stops.end(), GetFocus());
    const size_t count = stops.size();
    const size_t index = static_cast<size_t>(at - stops.begin());
    // From elsewhere (the window itself), the log comes first.
    SetFocus(at == stops.end()
                 ? stops.front()
                 : stops[backwards ? (index + count - 1) % count : (index + 1) % count]);
    // The focus is moved by keys: the buttons show which of them has it.
    SendMessageW(Window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_CLEAR, UISF_HIDEFOCUS), 0);
}

HWND TWin32MainWindow::LogControl() const {
    return Log ? Log->Handle() : nullptr;
}

void TWin32MainWindow::ShowLogLines(const TLogModel& log) {
    if (Window == nullptr) {
        return;
    }
    Log->ShowLines(log);
    ModelLines = log.Size();
    UpdateNotice();
}

void TWin32MainWindow::ShowLogNotice(const std::string& text) {
    if (Window == nullptr) {
        return;
    }
    BehaviourNotice = text;
    UpdateNotice();
}

void TWin32MainWindow::UpdateNotice() {
    std::string text = BehaviourNotice;
    if (Log->LinesOnlyInMemory() > 0) {
        text += (text.empty() ? "" : ". ") + ShownLinesNotice(Log->ShownLines(), ModelLines);
    }
    if (text == NoticeText) {
        return;
    }
    const bool wasShown = !NoticeText.empty();
    NoticeText = text;
    SetWindowTextW(Notice, WideFromUtf8(text).c_str());
    if (wasShown != !text.empty()) {
        ShowWindow(Notice, text.empty() ? SW_HIDE : SW_SHOW);
        LayOut();
    }
}

void TWin32MainWindow::ShowStatusPanels(const std::array<std::string, 4>& texts) {
    if (Window == nullptr) {
        return;
    }
    for (size_t panel = 0; panel < texts.size(); ++panel) {
        SendMessageW(Status, SB_SETTEXTW, panel,
                     reinterpret_cast<LPARAM>(WideFromUtf8(texts[panel]).c_str()));
    }
}

void TWin32MainWindow::ShowViewChecks(const TViewChecks& checks) {
    if (Window == nullptr) {
        return;
    }
    SetMenuCheck(MenuBar, kViewErrorCommand, checks.ViewError);
    SetMenuCheck(MenuBar, kViewSetCommand, checks.ViewSet);
    SetMenuCheck(MenuBar, kViewHexCommand, checks.ViewHex);
}

void TWin32MainWindow::ShowOriginQuestion(const std::string& origin) {
    if (Window == nullptr) {
        return;
    }
    // A key meant for the question that goes must not answer the one that comes, and a hidden
    // button must not keep the keys.
    if (IsChild(Question->Handle(), GetFocus())) {
        SetFocus(Log->Handle());
    }
    Question->Ask(origin);
    LayOut();
}

void TWin32MainWindow::ShowErrorReport(const std::string& text, TReportKind kind) {
    switch (kind) {
        case TReportKind::Waiting:
            ShowMessageBoxWaiting(Window, WindowText::kErrorReportCaption, text, MB_ICONERROR);
            break;
        case TReportKind::Beside:
            BesideReports.Show(WindowText::kErrorReportCaption, text, MB_ICONERROR);
            break;
        case TReportKind::Unattended:
            PrintReport(text);
            break;
    }
}

std::optional<std::string> TWin32MainWindow::AskSavePath(const std::string& folder,
                                                         const std::string& lastPath) {
    return AskSavePathDialog(Window, folder, lastPath);
}

void TWin32MainWindow::PlaceWindow(const TWindowPlacement& placement) {
    if (Window == nullptr) {
        return;
    }
    if (IsIconic(Window) || IsZoomed(Window)) {
        ShowWindow(Window, SW_RESTORE);
    }
    SetWindowPos(Window, nullptr, placement.Left, placement.Top,
                 std::max(placement.Width, kMinimumWidth),
                 std::max(placement.Height, kMinimumHeight), SWP_NOZORDER | SWP_NOACTIVATE);
}

std::optional<TWindowPlacement> TWin32MainWindow::NormalPlacement() const {
    if (Window == nullptr || IsIconic(Window) || IsZoomed(Window)) {
        return std::nullopt;
    }
    RECT frame{};
    GetWindowRect(Window, &frame);
    return TWindowPlacement{frame.left, frame.top, frame.right - frame.left,
                            frame.bottom - frame.top};
}

void TWin32MainWindow::ShowWindowAs(TWindowShown shown) {
    if (Window == nullptr) {
        return;
    }
    ShownAsTold = true;
    ShowingAsTold = true;
    switch (shown) {
        case TWindowShown::Normal:
            ShowWindow(Window, IsIconic(Window) ? SW_RESTORE : SW_SHOW);
            SetForegroundWindow(Window);
            UpdateWindow(Window);
            break;
        case TWindowShown::Minimized:
            ShowWindow(Window, SW_SHOWMINNOACTIVE);
            break;
        case TWindowShown::Hidden:
            ShowWindow(Window, SW_HIDE);
            break;
    }
    ShowingAsTold = false;
}

bool TWin32MainWindow::WindowInSight() const {
    return Window != nullptr && IsWindowVisible(Window) && !IsIconic(Window);
}

void TWin32MainWindow::ShowStartAtLoginCheck(bool checked) {
    if (Window != nullptr) {
        const UINT mark = checked ? MF_CHECKED : MF_UNCHECKED;
        CheckMenuItem(MenuBar, kStartAtLoginCommand, MF_BYCOMMAND | mark);
    }
}

void TWin32MainWindow::ShowAboutBox(const std::string& caption, const std::string& text) {
    ShowMessageBoxWaiting(nullptr, caption, text, 0);
}

void TWin32MainWindow::RunSitesDialog(TSitesDialog& dialog) {
    if (Window != nullptr) {
        TWin32SitesDialog(dialog).Run(Window);
    }
}

void TWin32MainWindow::RunPortsDialog(TPortsDialog& dialog) {
    if (Window != nullptr) {
        TWin32PortsDialog(dialog).Run(Window);
    }
}

void TWin32MainWindow::CloseWindow() {
    if (Window == nullptr) {
        return;
    }
    const HWND window = Window;
    Window = nullptr;
    DestroyWindow(window);
    Question.reset();
    Log.reset();
    Notice = nullptr;
    Status = nullptr;
    MenuBar = nullptr;
}

void TWin32MainWindow::LayOut() {
    // A minimized window has no room: the parts keep their places, and the log its view, for
    // the window's return.
    if (Window == nullptr || !Log || !Question || IsIconic(Window)) {
        return;
    }
    RECT client{};
    GetClientRect(Window, &client);
    const int width = client.right;
    const int bottom = std::max(0, static_cast<int>(client.bottom) - kStatusBarHeight);
    MoveWindow(Status, 0, bottom, width, kStatusBarHeight, TRUE);
    int top = 0;
    if (Question->Shown()) {
        const int height = Question->HeightFor(width);
        Question->Place(0, top, width, height);
        top += height;
    }
    if (!NoticeText.empty()) {
        const int height = LineHeight(NoticeFont) + 2 * kNoticePadding;
        MoveWindow(Notice, 0, top, width, height, TRUE);
        top += height;
    }
    Log->Place(0, top, width, std::max(0, bottom - top));
}

void TWin32MainWindow::OnCommand(int command) {
    Guarded([this, command] {
        switch (command) {
            case kSaveCommand:
                Events.M1_SaveClick();
                break;
            case kStartAtLoginCommand:
                Events.M1_StartAtLoginClick();
                break;
            case kExitCommand:
                Events.M1_ExitClick();
                break;
            case kViewErrorCommand:
                Events.M2_ErrorClick();
                break;
            case kViewSetCommand:
                Events.M2_SetClick();
                break;
            case kViewHexCommand:
                Events.M2_HexClick();
                break;
            case kHelpCommand:
                Events.M_HelpClick();
                break;
            case kSitesCommand:
                Events.M3_SitesClick();
                break;
            case kPortsCommand:
                Events.M3_PortsClick();
                break;
            default:
                break;
        }
    });
}

LRESULT CALLBACK TWin32MainWindow::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                                   LPARAM lParam) {
    auto* form = WindowOwner<TWin32MainWindow>(window, message, lParam);
    if (form == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return form->OnMessage(window, message, wParam, lParam);
}

LRESULT TWin32MainWindow::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            // Menu commands only; the controls' notifications need nothing here.
            if (lParam == 0) {
                OnCommand(LOWORD(wParam));
                return 0;
            }
            break;
        case WM_SYSCOMMAND:
            // The close box, Alt+F4 and the taskbar's "Close window": the operator closes.
            if ((wParam & 0xFFF0) == SC_CLOSE) {
                Guarded([this] { Events.CloseRequested(TCloseCause::Operator); });
                return 0;
            }
            break;
        case WM_CLOSE:
            // Not from the operator (their closes come as SC_CLOSE): another program tells the
            // program to stop, as taskkill does, and nobody may be there to answer a box. The
            // behaviour's shutdown decides; the window goes when it calls CloseWindow.
            Guarded([this] { Events.CloseRequested(TCloseCause::SessionEnd); });
            return 0;
        case WM_QUERYENDSESSION:
            // Nothing is asked and nothing waits: the session may end. The shutdown steps run
            // when it does (WM_ENDSESSION), not when another program may still cancel it.
            return TRUE;
        case WM_ENDSESSION:
            // The process ends soon after this returns, so the shutdown runs inside it.
            if (wParam != FALSE) {
                Guarded([this] { Events.CloseRequested(TCloseCause::SessionEnd); });
            }
            return 0;
        case WM_GETMINMAXINFO: {
            auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
            limits->ptMinTrackSize.x = kMinimumWidth;
            limits->ptMinTrackSize.y = kMinimumHeight;
            return 0;
        }
        case WM_SIZE:
            LayOut();
            // The operator minimized it (its button, the taskbar, a key): the tray may take it.
            if (wParam == SIZE_MINIMIZED && !ShowingAsTold && IsWindowVisible(window)) {
                Guarded([this] { Events.WindowMinimized(); });
            }
            return 0;
        case WM_SETFOCUS:
            if (Log) {
                SetFocus(Log->Handle());
            }
            return 0;
        case WM_CTLCOLORSTATIC:
            if (reinterpret_cast<HWND>(lParam) == Notice) {
                const auto context = reinterpret_cast<HDC>(wParam);
                SetTextColor(context, kNoticeText);
                SetBkColor(context, kNoticeBackground);
                return reinterpret_cast<LRESULT>(NoticeBackground);
            }
            break;
        case WM_DESTROY:
            if (QuitOnDestroy) {
                PostQuitMessage(0);
            }
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
