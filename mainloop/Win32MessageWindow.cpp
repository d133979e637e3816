#include "Win32MessageWindow.h"

#include "Win32WindowOwner.h"

namespace {

constexpr wchar_t kClassName[] = L"ModbusBridgeMessageWindow";

}  // namespace

TMessageWindow::TMessageWindow(THandler handler, TKind kind, const wchar_t* title)
    : Handler(std::move(handler)) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = Procedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    // Registered once for the process; the next window finds it there.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Error = GetLastError();
        return;
    }
    const HWND parent = kind == TKind::MessageOnly ? HWND_MESSAGE : nullptr;
    Window = CreateWindowExW(0, kClassName, title, WS_OVERLAPPED, 0, 0, 0, 0, parent, nullptr,
                             instance, this);
    if (Window == nullptr) {
        Error = GetLastError();
    }
}

TMessageWindow::~TMessageWindow() {
    if (Window != nullptr) {
        SetWindowLongPtrW(Window, GWLP_USERDATA, 0);
        DestroyWindow(Window);
    }
}

LRESULT CALLBACK TMessageWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    auto* owner = WindowOwner<TMessageWindow>(window, message, lParam);
    LRESULT result = 0;
    if (owner != nullptr && owner->Handler && owner->Handler(message, wParam, lParam, result)) {
        return result;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
