#include "Win32Tray.h"

#include <shellapi.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "DialogTexts.h"
#include "TrayPicture.h"
#include "Win32Text.h"
#include "WindowTexts.h"

namespace {

// The picture as an icon of the system's small icon size, 32 bits with its alpha channel.
HICON MakeIcon(TTrayPicture picture) {
    const int size = GetSystemMetrics(SM_CXSMICON) > 0 ? GetSystemMetrics(SM_CXSMICON) : 16;
    const std::vector<uint32_t> pixels = TrayPicturePixels(picture, size);
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = size;
    // Negative: rows from the top, as the pixels come.
    header.bV5Height = -size;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    const HDC screen = GetDC(nullptr);
    const HBITMAP colour = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&header),
                                            DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (colour == nullptr) {
        return nullptr;
    }
    // 0xAARRGGBB in memory order is B, G, R, A: the layout of a 32-bit DIB.
    std::memcpy(bits, pixels.data(), pixels.size() * sizeof(uint32_t));
    const HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, colour};
    const HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(colour);
    return icon;
}

// Copies text into a fixed field of the shell's structure, cut to its size without splitting a
// character in two.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& text) {
    size_t length = std::min(text.size(), N - 1);
    if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) {
        --length;
    }
    text.copy(field, length);
    field[length] = L'\0';
}

}  // namespace

TWin32Tray::TWin32Tray(TTrayEvents& events)
    : Events(events),
      Window([this](UINT message, WPARAM wParam, LPARAM lParam,
                    LRESULT& result) { return OnMessage(message, wParam, lParam, result); },
             TMessageWindow::TKind::HiddenTopLevel, kWindowTitle),
      TaskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")) {
    if (Window.Handle() == nullptr) {
        throw std::runtime_error("the tray icon's window: " + Win32ErrorText(Window.SetupError()));
    }
    // Windows lets a program of lower rights (Explorer at a raised program's side) send it.
    ChangeWindowMessageFilterEx(Window.Handle(), TaskbarCreated, MSGFLT_ALLOW, nullptr);
    PopupMenu = CreatePopupMenu();
    AppendMenuW(PopupMenu, MF_STRING, kShowWindowCommand,
                WideFromUtf8(WindowText::kTrayShowWindow).c_str());
    AppendMenuW(PopupMenu, MF_STRING, kSitesCommand, WideFromUtf8(DialogText::kMenuSites).c_str());
    AppendMenuW(PopupMenu, MF_STRING, kStartAtLoginCommand,
                WideFromUtf8(WindowText::kMenuStartAtLogin).c_str());
    AppendMenuW(PopupMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(PopupMenu, MF_STRING, kExitCommand, WideFromUtf8(WindowText::kMenuExit).c_str());
    SetMenuDefaultItem(PopupMenu, kShowWindowCommand, FALSE);
    for (size_t index = 0; index < Icons.size(); ++index) {
        Icons[index] = MakeIcon(static_cast<TTrayPicture>(index));
    }
}

TWin32Tray::~TWin32Tray() {
    RemoveTrayIcon();
    DestroyMenu(PopupMenu);
    for (const HICON icon : Icons) {
        if (icon != nullptr) {
            DestroyIcon(icon);
        }
    }
}

NOTIFYICONDATAW TWin32Tray::IconData(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = Window.Handle();
    data.uID = kIconId;
    data.uFlags = flags;
    return data;
}

bool TWin32Tray::Notify(NOTIFYICONDATAW& data) {
    if (Added && Shell_NotifyIconW(NIM_MODIFY, &data)) {
        return true;
    }
    // The shell lost the icon (it started again before its broadcast came), or kept it through
    // a broadcast that was not a new start (Windows sends one when the screen's scale changes).
    Added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data);
    if (!Added) {
        Error = GetLastError();
    }
    return Added;
}

bool TWin32Tray::ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) {
    Wanted = true;
    Picture = picture;
    Tip = WideFromUtf8(tooltip);
    NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = kCallbackMessage;
    data.hIcon = Icons[static_cast<size_t>(picture)];
    CopyField(data.szTip, Tip);
    return Notify(data);
}

void TWin32Tray::RemoveTrayIcon() {
    Wanted = false;
    if (Added) {
        NOTIFYICONDATAW data = IconData(0);
        Shell_NotifyIconW(NIM_DELETE, &data);
        Added = false;
    }
}

void TWin32Tray::ShowStartAtLoginCheck(bool checked) {
    const UINT mark = checked ? MF_CHECKED : MF_UNCHECKED;
    CheckMenuItem(PopupMenu, kStartAtLoginCommand, MF_BYCOMMAND | mark);
}

void TWin32Tray::ShowNotification(const std::string& title, const std::string& text) {
    if (!Added) {
        return;
    }
    NOTIFYICONDATAW data = IconData(NIF_INFO);
    CopyField(data.szInfoTitle, WideFromUtf8(title));
    CopyField(data.szInfo, WideFromUtf8(text));
    data.dwInfoFlags = NIIF_INFO;
    Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TWin32Tray::ShowMenu() {
    POINT at{};
    GetCursorPos(&at);
    // Without this the menu stays open when the operator clicks elsewhere.
    SetForegroundWindow(Window.Handle());
    TrackPopupMenu(PopupMenu, TPM_RIGHTBUTTON | TPM_BOTTOMALIGN, at.x, at.y, 0, Window.Handle(),
                   nullptr);
    PostMessageW(Window.Handle(), WM_NULL, 0, 0);
}

bool TWin32Tray::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    result = 0;
    if (message == TaskbarCreated) {
        // The new shell holds no icon. One that the behaviour has is put back as it was; where
        // the behaviour was told that there is no tray, it now learns that there is one.
        const bool hadIcon = Added;
        Added = false;
        if (!hadIcon) {
            Events.TrayAppeared();
        } else if (Wanted && !ShowTrayIcon(Picture, Utf8FromWide(Tip))) {
            Events.TrayGone();
        }
        return true;
    }
    switch (message) {
        case kCallbackMessage:
            switch (LOWORD(lParam)) {
                case WM_LBUTTONUP:
                    Events.TrayClicked();
                    break;
                case WM_RBUTTONUP:
                case WM_CONTEXTMENU:
                    ShowMenu();
                    break;
                case NIN_BALLOONUSERCLICK:
                    Events.NotificationClicked();
                    break;
                default:
                    break;
            }
            return true;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case kShowWindowCommand:
                    Events.TrayShowWindowClick();
                    break;
                case kSitesCommand:
                    Events.TraySitesClick();
                    break;
                case kStartAtLoginCommand:
                    Events.TrayStartAtLoginClick();
                    break;
                case kExitCommand:
                    Events.TrayExitClick();
                    break;
                default:
                    break;
            }
            return true;
        case WM_CLOSE:
            // Another program's close request (taskkill) is the main window's to answer; this
            // window goes with the icon.
            return true;
        default:
            return false;
    }
}
