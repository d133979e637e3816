#include "QtCopyLink.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

namespace {

// What a later start sends, and what the first answers: its window is in sight, or it closes.
constexpr char kShowRequest[] = "show\n";
constexpr char kShownAnswer[] = "shown\n";
constexpr char kClosingAnswer[] = "closing\n";
// The first copy listens a moment after it takes the marker, may be busy starting, or may be
// closing (its shutdown takes about half a second).
constexpr int kFirstCopyWaitMs = 5000;
constexpr int kRetryMs = 50;

}  // namespace

TMarkerState TQtCopyLink::Claim() {
    Marker = std::make_unique<TProgramMarker>(TMarkedProgram::Window);
    Error_ = Marker->Error();
    return Marker->State();
}

TFirstAnswer TQtCopyLink::AskFirstToShow() {
    const QString address = QString::fromStdString(FirstCopyAddress());
    const QDeadlineTimer deadline(kFirstCopyWaitMs);
    std::string lastError = "no answer";
    while (!deadline.hasExpired()) {
        if (Claim() == TMarkerState::Held) {
            return TFirstAnswer::TakenOver;
        }
        QLocalSocket socket;
        socket.connectToServer(address);
        if (socket.waitForConnected(static_cast<int>(deadline.remainingTime()))) {
            socket.write(kShowRequest);
            QByteArray answer;
            while (!answer.endsWith('\n') &&
                   socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
                answer += socket.readAll();
            }
            if (answer == kShownAnswer) {
                return TFirstAnswer::Shown;
            }
            lastError = answer == kClosingAnswer ? "it is closing" : "no answer";
        } else {
            lastError = socket.errorString().toStdString();
        }
        QThread::msleep(kRetryMs);
    }
    Error_ = lastError;
    return TFirstAnswer::NoAnswer;
}

bool TQtCopyLink::ListenForLaterStarts(std::function<bool()> asked) {
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
                    socket->write(Asked() ? kShownAnswer : kClosingAnswer);
                }
                socket->disconnectFromServer();
            });
        }
    });
    return true;
}
