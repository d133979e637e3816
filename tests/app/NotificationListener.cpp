// The desktop's notification service for the tray tests: it takes the name
// org.freedesktop.Notifications on the session bus, prints each notification it gets as one
// line ("notify ID<TAB>SUMMARY<TAB>BODY<TAB>ACTIONS"), and clicks one when its standard input
// says "click ID" (the signal ActionInvoked with the default action, as a desktop sends it).
// It prints "ready" once it holds the name.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSocketNotifier>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>
#include <iostream>
#include <string>

class TNotificationListener : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int) {
        const uint id = ++LastId;
        std::printf("notify %u\t%s\t%s\t%s\n", id, summary.toUtf8().constData(),
                    body.toUtf8().constData(), actions.join(QLatin1Char(',')).toUtf8().constData());
        std::fflush(stdout);
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("modbus-bridge tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("notification-listener");
    }
    void CloseNotification(uint) {}

public:
    void Click(uint id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        QDBusConnection::sessionBus().send(signal);
    }

private:
    uint LastId = 0;
};

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    TNotificationListener listener;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &listener,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.Notifications"))) {
        std::fprintf(stderr, "notification-listener: %s\n",
                     bus.lastError().message().toUtf8().constData());
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(0, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&listener, &input] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            input.setEnabled(false);
            QCoreApplication::quit();
            return;
        }
        if (line.starts_with("click ")) {
            listener.Click(static_cast<uint>(std::stoul(line.substr(6))));
        }
    });
    return QCoreApplication::exec();
}

#include "NotificationListener.moc"
