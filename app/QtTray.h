#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include "TrayView.h"

class QAction;
class QMenu;
class QTimer;
class TDesktopNotifications;

// The tray icon on Linux, drawn with Qt: on a desktop's StatusNotifierItem host or XEmbed tray,
// whichever Qt finds. Qt does not tell when a tray comes or goes, so the view looks every two
// seconds and tells its events. Notifications go to the desktop's notification service (the
// tray's own balloon where there is none).
class TQtTray : public QObject, public TTrayView {
public:
    static constexpr int kTrayCheckMs = 2000;

    explicit TQtTray(TTrayEvents& events, QObject* parent = nullptr);
    ~TQtTray() override;

    bool ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) override;
    void RemoveTrayIcon() override;
    void ShowStartAtLoginCheck(bool checked) override;
    void ShowNotification(const std::string& title, const std::string& text) override;

    QSystemTrayIcon* Icon = nullptr;
    QMenu* Menu = nullptr;
    QAction* ShowWindow = nullptr;
    QAction* Sites = nullptr;
    QAction* StartAtLogin = nullptr;
    QAction* Exit = nullptr;

private:
    void CheckTray();

    TTrayEvents& Events;
    TDesktopNotifications* Notifications = nullptr;
    QTimer* TrayCheck = nullptr;
    bool TrayThere = false;
    TTrayPicture Shown = TTrayPicture::Idle;
    bool Drawn = false;
};
