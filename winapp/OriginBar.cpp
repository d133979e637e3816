#include "OriginBar.h"

#include <algorithm>
#include <stdexcept>

#include "Win32Text.h"
#include "Win32WindowOwner.h"
#include "WindowTexts.h"

namespace {

constexpr wchar_t kClassName[] = L"ModbusBridgeOriginBar";
// A pale yellow: a question that waits for the operator, not an error.
constexpr COLORREF kBackground = RGB(0xFF, 0xF3, 0xC4);
constexpr int kPadding = 6;
constexpr int kButtonPadding = 24;
constexpr int kAllowId = 1;
constexpr int kDenyId = 2;

void RegisterBarClass(HINSTANCE instance, WNDPROC procedure) {
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
    windowClass.lpszClassName = kClassName;
    if (RegisterClassExW(&windowClass) == 0) {
        throw std::runtime_error("the question bar's class: " + Win32ErrorText(GetLastError()));
    }
}

HWND Child(HWND parent, const wchar_t* className, const std::wstring& text, DWORD style, int id,
           HFONT font) {
    const HWND child = CreateWindowExW(
        0, className, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
    if (child == nullptr) {
        throw std::runtime_error("the question bar: " + Win32ErrorText(GetLastError()));
    }
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

struct TTextSize {
    int Width;
    int Height;
};

// The size of a text in the font, wrapped at the width when one is given.
TTextSize MeasureText(HFONT font, const std::wstring& text, int wrapWidth) {
    const HDC screen = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(screen, font);
    RECT bounds{0, 0, std::max(1, wrapWidth), 0};
    const UINT format = DT_CALCRECT | DT_NOPREFIX | (wrapWidth > 0 ? DT_WORDBREAK : DT_SINGLELINE);
    DrawTextW(screen, text.empty() ? L" " : text.c_str(), -1, &bounds, format);
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
    return {bounds.right - bounds.left, bounds.bottom - bounds.top};
}

std::wstring WindowTextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct TButtonsSize {
    int Width;
    int Height;
};

TButtonsSize ButtonSize(HFONT font) {
    const int allow = MeasureText(font, WideFromUtf8(WindowText::kOriginAllow), 0).Width;
    const int deny = MeasureText(font, WideFromUtf8(WindowText::kOriginDeny), 0).Width;
    const TTextSize line = MeasureText(font, L"Ag", 0);
    return {std::max(allow, deny) + kButtonPadding, line.Height + 2 * kPadding};
}

}  // namespace

TOriginBar::TOriginBar(HWND parent, HFONT font,
                       std::function<void(const std::string& origin, bool allowed)> pressed)
    : Font(font), Pressed(std::move(pressed)) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterBarClass(instance, WindowProcedure);
    Background = CreateSolidBrush(kBackground);
    Bar = CreateWindowExW(0, kClassName, L"", WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0, parent,
                          nullptr, instance, this);
    if (Bar == nullptr) {
        throw std::runtime_error("the question bar: " + Win32ErrorText(GetLastError()));
    }
    QuestionText = Child(Bar, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, 0, Font);
    Allow = Child(Bar, L"BUTTON", WideFromUtf8(WindowText::kOriginAllow),
                  BS_PUSHBUTTON | WS_TABSTOP, kAllowId, Font);
    Deny = Child(Bar, L"BUTTON", WideFromUtf8(WindowText::kOriginDeny), BS_PUSHBUTTON | WS_TABSTOP,
                 kDenyId, Font);
}

TOriginBar::~TOriginBar() {
    if (IsWindow(Bar)) {
        SetWindowLongPtrW(Bar, GWLP_USERDATA, 0);
        DestroyWindow(Bar);
    }
    DeleteObject(Background);
}

void TOriginBar::Ask(const std::string& origin) {
    Origin_ = origin;
    if (origin.empty()) {
        ShowWindow(Bar, SW_HIDE);
        return;
    }
    SetWindowTextW(QuestionText, WideFromUtf8(OriginQuestionText(origin)).c_str());
    ShowWindow(Bar, SW_SHOW);
}

void TOriginBar::Press(bool allowed) {
    // A copy: the press may put the next question in this one's place.
    const std::string origin = Origin_;
    if (!origin.empty() && Pressed) {
        Pressed(origin, allowed);
    }
}

bool TOriginBar::PressFocused(HWND focused) {
    if (focused != Allow && focused != Deny) {
        return false;
    }
    Press(focused == Allow);
    return true;
}

bool TOriginBar::PressAccessKey(wchar_t letter) {
    if (!Shown()) {
        return false;
    }
    for (const HWND button : {Allow, Deny}) {
        const std::wstring text = WindowTextOf(button);
        const size_t mark = text.find(L'&');
        if (mark == std::wstring::npos || mark + 1 >= text.size()) {
            continue;
        }
        wchar_t keys[2] = {text[mark + 1], letter};
        CharUpperBuffW(keys, 2);
        if (keys[0] == keys[1]) {
            Press(button == Allow);
            return true;
        }
    }
    return false;
}

int TOriginBar::HeightFor(int width) const {
    const TButtonsSize button = ButtonSize(Font);
    const int textWidth = width - 2 * button.Width - 4 * kPadding;
    const int text = MeasureText(Font, WindowTextOf(QuestionText), std::max(1, textWidth)).Height;
    return std::max(button.Height, text) + 2 * kPadding;
}

void TOriginBar::Place(int left, int top, int width, int height) {
    MoveWindow(Bar, left, top, width, height, TRUE);
    LayOut();
}

void TOriginBar::LayOut() {
    if (Deny == nullptr) {
        return;
    }
    RECT client{};
    GetClientRect(Bar, &client);
    const int width = client.right;
    const int height = client.bottom;
    const TButtonsSize button = ButtonSize(Font);
    const int buttonTop = std::max(kPadding, (height - button.Height) / 2);
    const int denyLeft = width - kPadding - button.Width;
    const int allowLeft = denyLeft - kPadding - button.Width;
    MoveWindow(Deny, denyLeft, buttonTop, button.Width, button.Height, TRUE);
    MoveWindow(Allow, allowLeft, buttonTop, button.Width, button.Height, TRUE);
    MoveWindow(QuestionText, kPadding, kPadding, std::max(0, allowLeft - 2 * kPadding),
               std::max(0, height - 2 * kPadding), TRUE);
}

LRESULT CALLBACK TOriginBar::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    auto* bar = WindowOwner<TOriginBar>(window, message, lParam);
    if (bar == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return bar->OnMessage(window, message, wParam, lParam);
}

LRESULT TOriginBar::OnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) {
                if (LOWORD(wParam) == kAllowId) {
                    Press(true);
                } else if (LOWORD(wParam) == kDenyId) {
                    Press(false);
                }
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
            SetBkColor(reinterpret_cast<HDC>(wParam), kBackground);
            return reinterpret_cast<LRESULT>(Background);
        case WM_ERASEBKGND: {
            RECT client{};
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, Background);
            return 1;
        }
        case WM_SIZE:
            LayOut();
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
