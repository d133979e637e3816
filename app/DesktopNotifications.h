#pragma once

#include <QObject>
#include <QString>
#include <functional>

// Notifications through the desktop's notification service on the session bus
// (org.freedesktop.Notifications), each with a default action: a click on it comes as Clicked.
// The call is made without waiting, since the GUI thread serves the bridge. Where the bus or the
// service is missing, Unavailable gets the notification instead (the tray's own balloon).
class TDesktopNotifications : public QObject {
    Q_OBJECT

public:
    explicit TDesktopNotifications(QObject* parent = nullptr);

    void Show(const QString& title, const QString& text);

    std::function<void()> Clicked;
    std::function<void(const QString& title, const QString& text)> Unavailable;

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    // The service's numbers of the notifications shown and not yet clicked.
    QList<uint> Shown;
};
