#pragma once

#include <string>

// What the tray icon's picture tells at a glance. Where several hold, the first of these wins:
// a page waiting for the operator's consent, a request being served, the last request (or the
// server's start) failed, idle.
enum class TTrayPicture {
    Idle,
    Serving,
    Failed,
    Asking,
};

// The program's icon in the desktop's notification area (the tray), whatever draws it: Qt's
// tray on Linux, Shell_NotifyIconW on Windows. Like the window it only shows what the window's
// behaviour tells it, and passes the operator's actions in (TTrayEvents). Every call comes on
// the GUI thread; texts are UTF-8.
class TTrayView {
public:
    virtual ~TTrayView() = default;

    // Shows the icon with this picture and tooltip (the port, the last request's result), adding
    // it when it is not there. False when the desktop has no tray now: no icon is shown, and the
    // view calls TTrayEvents::TrayAppeared when one comes.
    virtual bool ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) = 0;
    // Takes the icon away (the program ends).
    virtual void RemoveTrayIcon() = 0;
    // The check mark of "Запускать при входе в систему" in the icon's menu.
    virtual void ShowStartAtLoginCheck(bool checked) = 0;
    // A notification beside the tray; a click on it comes as TTrayEvents::NotificationClicked.
    // Where none can be shown, nothing happens.
    virtual void ShowNotification(const std::string& title, const std::string& text) = 0;
};

// What the tray passes in; each call comes on the GUI thread.
class TTrayEvents {
public:
    virtual ~TTrayEvents() = default;

    // A tray has come to the desktop (or came back, its host restarted): the icon may be shown.
    virtual void TrayAppeared() = 0;
    // The desktop's tray went away with the icon in it.
    virtual void TrayGone() = 0;
    // A click on the icon: shows a hidden window or hides a shown one.
    virtual void TrayClicked() = 0;
    // The icon's menu: "Показать окно", "Сайты…", "Запускать при входе в систему", "Выход".
    virtual void TrayShowWindowClick() = 0;
    virtual void TraySitesClick() = 0;
    virtual void TrayStartAtLoginClick() = 0;
    virtual void TrayExitClick() = 0;
    // A click on the notification that ShowNotification put up.
    virtual void NotificationClicked() = 0;
};
