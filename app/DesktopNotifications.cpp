#include "DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
// How long a notification stays: the service's own choice.
constexpr int kServiceTimeout = -1;
// The service's answer may take this long before the tray's balloon takes over.
constexpr int kCallTimeoutMs = 5000;

}  // namespace

TDesktopNotifications::TDesktopNotifications(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(OnActionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                    SLOT(OnClosed(uint, uint)));
    }
}

void TDesktopNotifications::Show(const QString& title, const QString& text) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        if (Unavailable) {
            Unavailable(title, text);
        }
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("modbus-bridge")}};
    call << QStringLiteral("modbus-bridge") << uint{0} << QStringLiteral("modbus-bridge") << title
         << text << QStringList{kDefaultAction, QStringLiteral("Ответить")} << hints
         << kServiceTimeout;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, title, text] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            if (Unavailable) {
                Unavailable(title, text);
            }
            return;
        }
        Shown.append(reply.value());
    });
}

void TDesktopNotifications::OnActionInvoked(uint id, const QString& action) {
    if (action == kDefaultAction && Shown.removeOne(id) && Clicked) {
        Clicked();
    }
}

void TDesktopNotifications::OnClosed(uint id, uint) {
    Shown.removeOne(id);
}
