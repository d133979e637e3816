#include "QtTray.h"

#include <QAction>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QTimer>

#include "DesktopNotifications.h"
#include "DialogTexts.h"
#include "TrayPicture.h"
#include "WindowTexts.h"

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QIcon TrayIcon(TTrayPicture picture) {
    QIcon icon;
    // The sizes trays ask for, so that none is scaled from another.
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        const std::vector<uint32_t> pixels = TrayPicturePixels(picture, size);
        const QImage image(reinterpret_cast<const uchar*>(pixels.data()), size, size,
                           size * static_cast<qsizetype>(sizeof(uint32_t)), QImage::Format_ARGB32);
        // A copy: the image above only borrows the pixels.
        icon.addPixmap(QPixmap::fromImage(image.copy()));
    }
    return icon;
}

}  // namespace

TQtTray::TQtTray(TTrayEvents& events, QObject* parent) : QObject(parent), Events(events) {
    Icon = new QSystemTrayIcon(this);
    Menu = new QMenu;
    ShowWindow = Menu->addAction(FromUtf8(WindowText::kTrayShowWindow));
    Sites = Menu->addAction(FromUtf8(DialogText::kMenuSites));
    StartAtLogin = Menu->addAction(FromUtf8(WindowText::kMenuStartAtLogin));
    StartAtLogin->setCheckable(true);
    Menu->addSeparator();
    Exit = Menu->addAction(FromUtf8(WindowText::kMenuExit));
    Icon->setContextMenu(Menu);
    connect(ShowWindow, &QAction::triggered, this, [this] { Events.TrayShowWindowClick(); });
    connect(Sites, &QAction::triggered, this, [this] { Events.TraySitesClick(); });
    connect(StartAtLogin, &QAction::triggered, this, [this] { Events.TrayStartAtLoginClick(); });
    connect(Exit, &QAction::triggered, this, [this] { Events.TrayExitClick(); });
    connect(Icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
        // A double click comes after the click it began with, which toggled the window: it
        // ends with the window shown, whatever the first click did.
        if (why == QSystemTrayIcon::Trigger) {
            Events.TrayClicked();
        } else if (why == QSystemTrayIcon::DoubleClick) {
            Events.TrayShowWindowClick();
        }
    });
    Notifications = new TDesktopNotifications(this);
    Notifications->Clicked = [this] { Events.NotificationClicked(); };
    Notifications->Unavailable = [this](const QString& title, const QString& text) {
        if (Icon->isVisible()) {
            Icon->showMessage(title, text);
        }
    };
    connect(Icon, &QSystemTrayIcon::messageClicked, this, [this] { Events.NotificationClicked(); });
    TrayThere = QSystemTrayIcon::isSystemTrayAvailable();
    TrayCheck = new QTimer(this);
    connect(TrayCheck, &QTimer::timeout, this, [this] { CheckTray(); });
    TrayCheck->start(kTrayCheckMs);
}

TQtTray::~TQtTray() {
    delete Menu;
}

void TQtTray::CheckTray() {
    const bool there = QSystemTrayIcon::isSystemTrayAvailable();
    if (there == TrayThere) {
        return;
    }
    TrayThere = there;
    if (there) {
        Events.TrayAppeared();
    } else {
        // Qt keeps a tray icon it could not place; it is placed anew when a tray comes.
        Icon->hide();
        Events.TrayGone();
    }
}

bool TQtTray::ShowTrayIcon(TTrayPicture picture, const std::string& tooltip) {
    TrayThere = QSystemTrayIcon::isSystemTrayAvailable();
    if (!TrayThere) {
        return false;
    }
    if (!Drawn || picture != Shown) {
        Icon->setIcon(TrayIcon(picture));
        Shown = picture;
        Drawn = true;
    }
    Icon->setToolTip(QString::fromStdString(tooltip));
    if (!Icon->isVisible()) {
        Icon->show();
    }
    return true;
}

void TQtTray::RemoveTrayIcon() {
    Icon->hide();
}

void TQtTray::ShowStartAtLoginCheck(bool checked) {
    StartAtLogin->setChecked(checked);
}

void TQtTray::ShowNotification(const std::string& title, const std::string& text) {
    Notifications->Show(QString::fromStdString(title), QString::fromStdString(text));
}
