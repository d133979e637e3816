#include "QtCopyLink.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

namespace {

// What a later start sends, and what the first answers once its window is in sight.
constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";
// The first copy listens a moment after it takes the marker, and may be busy starting.
constexpr int kFirstCopyWaitMs = 5000;
constexpr int kAnswerWaitMs = 5000;

}  // namespace

TMarkerState TQtCopyLink::Claim() {
    Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Window);
    Error_ = Marker->Error();
    return Marker->State();
}

bool TQtCopyLink::AskFirstToShow() {
    const QString address = QString::fromStdString(FirstCopyAddress());
    const QDeadlineTimer deadline(kFirstCopyWaitMs);
    QLocalSocket socket;
    while (true) {
        socket.connectToServer(address);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            break;
        }
        if (deadline.hasExpired()) {
            Error_ = socket.errorString().toStdString();
            return false;
        }
        QThread::msleep(50);
    }
    socket.write(kShowRequest);
    QByteArray answer;
    while (!answer.endsWith('\n') && socket.waitForReadyRead(kAnswerWaitMs)) {
        answer += socket.readAll();
    }
    if (answer != kShownAnswer) {
        Error_ = "no answer: " + socket.errorString().toStdString();
        return false;
    }
    return true;
}

bool TQtCopyLink::ListenForLaterStarts(std::function<void()> asked) {
    const QString address = QString::fromStdString(FirstCopyAddress());
    if (address.isEmpty()) {
        Error_ = "no runtime folder";
        return false;
    }
    Asked = std::move(asked);
    // A socket file left by a copy that was killed: the marker says that nobody listens on it.
    QLocalServer::removeServer(address);
    Server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!Server.listen(address)) {
        Error_ = Server.errorString().toStdString();
        return false;
    }
    QObject::connect(&Server, &QLocalServer::newConnection, &Server, [this] {
        while (QLocalSocket* socket = Server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket,
                             &QLocalSocket::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) {
                    return;
                }
                if (socket->readLine() == kShowRequest) {
                    Asked();
                    socket->write(kShownAnswer);
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}
