#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "TrayView.h"
#include "Win32MessageWindow.h"

// The tray icon on Windows: Shell_NotifyIconW with a hidden top-level window of its own for the
// icon's messages and for TaskbarCreated, which the shell broadcasts when it (Explorer) starts
// again: the icon is added anew then. Its menu is a popup menu at the cursor; the notification
// is the icon's balloon (NIF_INFO).
class TWin32Tray : public TTrayView {
public:
    // The icon's messages to its window (the shell's mouse messages in lParam).
    static constexpr UINT kCallbackMessage = WM_APP + 10;
    static constexpr UINT kIconId = 1;
    // The menu's commands, as WM_COMMAND brings them to the tray's window.
    enum TCommand : int {
        kShowWindowCommand = 401,
        kStartAtLoginCommand = 402,
        kExitCommand = 403,
        kSitesCommand = 404,
    };
    // The tray window's title, by which tests find it.
    static constexpr wchar_t kWindowTitle[] = L"modbus-bridge tray";

    // Throws when the system cannot make the tray's window.
    explicit TWin32Tray(TTrayEvents& events);
    ~TWin32Tray() override;
    TWin32Tray(const TWin32Tray&) = delete;
    TWin32Tray& operator=(const TWin32Tray&) = delete;

    bool ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) override;
    void RemoveTrayIcon() override;
    void ShowStartAtLoginCheck(bool checked) override;
    void ShowNotification(const std::string& title, const std::string& text) override;

    // For tests: the window, the menu, whether the shell took the icon, the icon handed to it.
    HWND Handle() const { return Window.Handle(); }
    HMENU Menu() const { return PopupMenu; }
    bool IconAdded() const { return Added; }
    HICON IconShown() const { return Icons[static_cast<size_t>(Picture)]; }
    // GetLastError of the last Shell_NotifyIconW that failed.
    DWORD LastError() const { return Error; }

private:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
    // NIM_ADD, or NIM_MODIFY of an icon the shell holds; false when the shell took neither.
    bool Notify(NOTIFYICONDATAW& data);
    NOTIFYICONDATAW IconData(UINT flags) const;
    void ShowMenu();

    TTrayEvents& Events;
    TMessageWindow Window;
    const UINT TaskbarCreated;
    HMENU PopupMenu = nullptr;
    std::array<HICON, 4> Icons{};
    TTrayPicture Picture = TTrayPicture::Idle;
    std::wstring Tip;
    // Shown was asked for (until RemoveTrayIcon); Added: the shell holds the icon.
    bool Wanted = false;
    bool Added = false;
    DWORD Error = 0;
};
