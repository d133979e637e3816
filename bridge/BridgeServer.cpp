#include "BridgeServer.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <system_error>

#include "ErrorText.h"
#include "HttpFraming.h"
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

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

std::string PeerText(const QTcpSocket& socket) {
    return socket.peerAddress().toString().toStdString();
}

}  // namespace

struct TBridgeServer::TConnection {
    // Order of acceptance: the oldest idle connection gives way when there are too many.
    uint64_t Sequence = 0;
    TRequestAssembler Request{kMaxRequestBytes};
    QElapsedTimer SinceFirstByte;
    QTimer Wait;
};

TBridgeServer::TBridgeServer(TRavo32& link, TBridgeHost& host, QObject* parent)
    : QObject(parent), Link(link), Host(host) {
    RefusalFlush.setSingleShot(true);
    connect(&RefusalFlush, &QTimer::timeout, this, [this] { FlushRefusals(); });
}

TBridgeServer::~TBridgeServer() {
    for (const auto& [socket, connection] : Connections) {
        QObject::disconnect(socket, nullptr, this, nullptr);
    }
    StopWorker();
}

void TBridgeServer::SetAccess(TAccessSettings access) {
    Access = std::move(access);
}

bool TBridgeServer::Open(uint16_t port, std::string& errorText) {
    if (!Inbox.Ready()) {
        errorText = ListenErrorText(TListenSocket{{}, errno, "eventfd", {}});
        return false;
    }
    const TListenSocket listening = OpenListenSocket(port, Access.Listen);
    if (listening.Fds.empty()) {
        errorText = ListenErrorText(listening);
        return false;
    }
    for (const int fd : listening.Fds) {
        auto server = std::make_unique<QTcpServer>();
        QTcpServer* raw = server.get();
        connect(raw, &QTcpServer::newConnection, this, [this, raw] { AcceptConnections(*raw); });
        // The server stops accepting after a failed accept (no descriptor left, for instance);
        // it must not stay deaf, so it makes room and listens again a moment later.
        connect(raw, &QTcpServer::acceptError, this, [this, raw] {
            DropOldestIdleConnection();
            QTimer::singleShot(kAcceptRetryMs, this, [raw] { raw->resumeAccepting(); });
        });
        Servers.push_back(std::move(server));
        if (!raw->setSocketDescriptor(fd)) {
            errorText = raw->errorString().toStdString();
            // Qt did not take this descriptor, nor has it seen the ones after it.
            for (size_t index = Servers.size() - 1; index < listening.Fds.size(); ++index) {
                ::close(listening.Fds[index]);
            }
            Servers.clear();
            return false;
        }
    }
    ListeningAddresses = listening.Addresses;
    Local.Port = ListeningPort();
    Local.HostName = LocalHostName();
    return true;
}

uint16_t TBridgeServer::ListeningPort() const {
    return Servers.empty() ? 0 : Servers.front()->serverPort();
}

std::string TBridgeServer::ListeningLine() const {
    const std::string port = std::to_string(ListeningPort());
    if (Access.Listen == TListenScope::Any) {
        return "Сервер слушает порт " + port + " на всех интерфейсах (Listen=any)";
    }
    std::string addresses;
    for (const std::string& address : ListeningAddresses) {
        addresses += (addresses.empty() ? "" : " и ") + address;
    }
    return "Сервер слушает порт " + port + " только на " + addresses +
           ": запросы лишь с этого компьютера";
}

void TBridgeServer::DecideOrigin(const std::string& origin, bool allowed) {
    Access.OriginDecisions[LowerAscii(origin)] = allowed;
    AskedOrigins.erase(LowerAscii(origin));
}

void TBridgeServer::Shutdown() {
    StopWorker();
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kShutdownPauseMs));
    for (const auto& server : Servers) {
        server->close();
    }
}

void TBridgeServer::AcceptConnections(QTcpServer& server) {
    while (QTcpSocket* socket = server.nextPendingConnection()) {
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
    std::string received = connection.Request.Take();
    TAccessVerdict verdict;
    if (!RefuseByAccess(socket, received, verdict)) {
        StartWorker(socket, std::move(received), verdict);
    }
}

bool TBridgeServer::RefuseByAccess(QTcpSocket* socket, const std::string& received,
                                   TAccessVerdict& verdict) {
    // A request without sound framing gets its own error (103 to 106) from the worker.
    if (ParseHttpRequest(received).Error != ErrorCode::None) {
        return false;
    }
    if (Access.Listen == TListenScope::Any) {
        // Addresses come and go with the network; the Host check takes those of this moment.
        Local.Addresses = InterfaceAddresses();
    }
    verdict = CheckAccess(received, Access, Local);
    NoteOrigin(verdict);
    if (verdict.Refusal == TRefusal::None) {
        return false;
    }
    if (verdict.Refusal == TRefusal::OriginUnanswered && AskAboutOrigin &&
        PlausibleOrigin(verdict.Origin) && AskedOrigins.size() < kRememberedOrigins &&
        AskedOrigins.insert(LowerAscii(verdict.Origin)).second) {
        AskAboutOrigin(verdict.Origin);
    }
    LogRefusal(RefusalLine(ErrorCode::AccessRefused, RefusalReason(verdict.Refusal),
                           PeerText(*socket), verdict));
    const std::string response = AccessRefusedResponse();
    socket->write(response.data(), static_cast<qint64>(response.size()));
    return true;
}

void TBridgeServer::NoteOrigin(const TAccessVerdict& verdict) {
    if (verdict.HasOrigin && !Host.ViewError() && SeenOrigins.size() < kRememberedOrigins &&
        SeenOrigins.insert(verdict.Origin).second) {
        Host.LogInfo("Первый запрос со страницы " + ShownRequestText(verdict.Origin));
    }
}

void TBridgeServer::LogRefusal(const std::string& line) {
    const TRefusalLimiter::TTurn turn = Refusals.Note(NowMs());
    if (turn.UnloggedBefore > 0) {
        Host.LogError(UnloggedRefusalsLine(turn.UnloggedBefore));
    }
    if (turn.WriteLine) {
        Host.LogError(line);
    }
    if (const std::optional<uint64_t> due = Refusals.FlushDue(); due && !RefusalFlush.isActive()) {
        const uint64_t now = NowMs();
        RefusalFlush.start(static_cast<int>(*due > now ? *due - now : 0));
    }
}

void TBridgeServer::FlushRefusals() {
    if (const uint64_t unlogged = Refusals.Flush(NowMs()); unlogged > 0) {
        Host.LogError(UnloggedRefusalsLine(unlogged));
    } else if (const std::optional<uint64_t> due = Refusals.FlushDue()) {
        const uint64_t now = NowMs();
        RefusalFlush.start(static_cast<int>(*due > now ? *due - now : 0));
    }
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

void TBridgeServer::StartWorker(QTcpSocket* socket, std::string received,
                                const TAccessVerdict& verdict) {
    Link.ResetStop();
    ClientSocket = socket;
    const uint64_t generation = ++Generation;
    TProcedureOptions options;
    options.Ports = Access.Ports;
    options.PortRefused = [this, peer = PeerText(*socket), verdict](const std::string& reason) {
        Inbox.Post([this, line = RefusalLine(ErrorCode::PortRefused, reason, peer, verdict)] {
            LogRefusal(line);
        });
    };
    try {
        WorkerThread = std::thread(
            [this, generation, received = std::move(received), options = std::move(options)] {
                std::optional<std::string> response = ServeRequest(received, Link, Host, options);
                Inbox.Post([this, generation, response = std::move(response)]() mutable {
                    FinishRequest(generation, std::move(response));
                });
            });
    } catch (const std::system_error&) {
        ClientSocket = nullptr;
        Host.LogError(kThreadFault);
    }
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
