#include "BridgeServer.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <system_error>

#include "ListenSocket.h"
#include "Ravo32.h"
#include "RequestAssembler.h"
#include "RequestWorker.h"

namespace {

constexpr char kBusyText[] = "Предыдущая команда не обработана ...";
constexpr char kBusyAdvice[] =
    "Нужно в браузере на странице Демо в параметрах связи увеличить время частоты опроса!";
constexpr char kThreadFault[] = "FAULT! Создание потока ...";
// What the socket itself buffers beyond the request being assembled.
constexpr qint64 kSocketBufferBytes = 64 * 1024;

}  // namespace

struct TBridgeServer::TConnection {
    // Order of acceptance: the oldest idle connection gives way when there are too many.
    uint64_t Sequence = 0;
    TRequestAssembler Request{kMaxRequestBytes};
    QElapsedTimer SinceFirstByte;
    QTimer Wait;
};

TBridgeServer::TBridgeServer(TRavo32& link, TBridgeHost& host, QObject* parent,
                             TThreadStarter startThread)
    : QObject(parent), Link(link), Host(host), StartWorkerThread(std::move(startThread)) {
    connect(&Server, &QTcpServer::newConnection, this, [this] { AcceptConnections(); });
    // The server stops accepting after a failed accept (no descriptor left, for instance);
    // it must not stay deaf, so it makes room and listens again a moment later.
    connect(&Server, &QTcpServer::acceptError, this, [this] {
        DropOldestIdleConnection();
        QTimer::singleShot(kAcceptRetryMs, this, [this] { Server.resumeAccepting(); });
    });
}

TBridgeServer::~TBridgeServer() {
    for (const auto& [socket, connection] : Connections) {
        QObject::disconnect(socket, nullptr, this, nullptr);
    }
    StopWorker();
}

bool TBridgeServer::Open(uint16_t port, std::string& errorText) {
    if (!Inbox.Ready()) {
        errorText = ListenErrorText(TListenSocket{-1, errno, "eventfd"});
        return false;
    }
    const TListenSocket listening = OpenListenSocket(port);
    if (listening.Fd < 0) {
        errorText = ListenErrorText(listening);
        return false;
    }
    if (!Server.setSocketDescriptor(listening.Fd)) {
        errorText = Server.errorString().toStdString();
        return false;
    }
    return true;
}

uint16_t TBridgeServer::ListeningPort() const {
    return Server.serverPort();
}

void TBridgeServer::Shutdown() {
    StopWorker();
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kShutdownPauseMs));
    Server.close();
}

void TBridgeServer::AcceptConnections() {
    while (QTcpSocket* socket = Server.nextPendingConnection()) {
        if (Connections.size() >= kMaxConnections) {
            DropOldestIdleConnection();
        }
        socket->setReadBufferSize(kSocketBufferBytes);
        auto connection = std::make_unique<TConnection>();
        connection->Sequence = ++ConnectionsAccepted;
        connection->Wait.setSingleShot(true);
        connect(&connection->Wait, &QTimer::timeout, this,
                [this, socket] { ServerSocketClientRead(socket, true); });
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket] { ServerSocketClientRead(socket, false); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { ServerSocketClientDisconnect(socket); });
        Connections.emplace(socket, std::move(connection));
    }
}

void TBridgeServer::DropOldestIdleConnection() {
    QTcpSocket* oldest = nullptr;
    uint64_t oldestSequence = UINT64_MAX;
    for (const auto& [socket, connection] : Connections) {
        if (socket != ClientSocket && connection->Sequence < oldestSequence) {
            oldest = socket;
            oldestSequence = connection->Sequence;
        }
    }
    if (oldest != nullptr) {
        QObject::disconnect(oldest, nullptr, this, nullptr);
        oldest->abort();
        Connections.erase(oldest);
        oldest->deleteLater();
    }
}

void TBridgeServer::ServerSocketClientRead(QTcpSocket* socket, bool waitOver) {
    // A client that gave up on its request and asks again at once: its closing may wait behind
    // this data in the event queue, but it must stop its request first, as it would have.
    if (Busy() && ClientSocket != nullptr &&
        PeerHasClosed(static_cast<int>(ClientSocket->socketDescriptor()))) {
        StopWorker();
    }
    if (Busy()) {
        // The data stays unread: the page asks faster than the line answers.
        Host.LogError(kBusyText);
        Host.LogNotice(kBusyAdvice);
        return;
    }
    const auto found = Connections.find(socket);
    if (found == Connections.end()) {
        return;
    }
    TConnection& connection = *found->second;
    while (!connection.Request.Full() && socket->bytesAvailable() > 0) {
        const qint64 wanted = std::min<qint64>(socket->bytesAvailable(),
                                               static_cast<qint64>(connection.Request.Room()));
        const QByteArray chunk = socket->read(wanted);
        if (chunk.isEmpty()) {
            break;
        }
        if (connection.Request.Empty()) {
            connection.SinceFirstByte.start();
        }
        connection.Request.Append(
            std::string_view(chunk.constData(), static_cast<size_t>(chunk.size())));
    }
    if (connection.Request.Empty()) {
        return;
    }
    if (!connection.Request.Complete() && !connection.Request.Full() && !waitOver) {
        const qint64 left = kCompletionWaitMs - connection.SinceFirstByte.elapsed();
        if (left > 0) {
            connection.Wait.start(static_cast<int>(left));
            return;
        }
    }
    connection.Wait.stop();
    StartWorker(socket, connection.Request);
}

void TBridgeServer::ServerSocketClientDisconnect(QTcpSocket* socket) {
    Connections.erase(socket);
    // Only the connection that waits for the answer may cancel it: browsers close idle and
    // speculative connections on their own.
    if (Busy() && socket == ClientSocket) {
        StopWorker();
    }
    socket->deleteLater();
}

void TBridgeServer::StartWorker(QTcpSocket* socket, TRequestAssembler& request) {
    Link.ResetStop();
    ClientSocket = socket;
    const uint64_t generation = ++Generation;
    try {
        WorkerThread =
            StartWorkerThread([this, generation, received = std::string(request.Bytes())] {
                std::optional<std::string> response = ServeRequest(received, Link, Host);
                Inbox.Post([this, generation, response = std::move(response)]() mutable {
                    FinishRequest(generation, std::move(response));
                });
            });
    } catch (const std::system_error&) {
        // The request stays with its connection, unread and unanswered, as if it had never
        // been taken: the next data on that connection brings it along.
        ClientSocket = nullptr;
        Host.LogError(kThreadFault);
        return;
    }
    request.Clear();
}

void TBridgeServer::FinishRequest(uint64_t generation, std::optional<std::string> response) {
    if (generation != Generation || !WorkerThread.joinable()) {
        return;
    }
    // The busy mark is cleared and the reply handed over in one step, so a client that sends
    // its next request the moment it reads the reply is served.
    WorkerThread.join();
    QTcpSocket* socket = ClientSocket;
    ClientSocket = nullptr;
    if (response && socket != nullptr && socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(response->data(), static_cast<qint64>(response->size()));
    }
}

void TBridgeServer::StopWorker() {
    if (!WorkerThread.joinable()) {
        return;
    }
    Link.RequestStop();
    WorkerThread.join();
    ++Generation;
    ClientSocket = nullptr;
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
}
