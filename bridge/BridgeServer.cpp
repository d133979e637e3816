#include "BridgeServer.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <exception>
#include <system_error>

#include "AsciiCase.h"
#include "HttpFraming.h"
#include "ListenSocket.h"
#include "Ravo32.h"
#include "RequestAssembler.h"
#include "RequestErrors.h"
#include "RequestWorker.h"

namespace {

constexpr char kBusyText[] = "Предыдущая команда не обработана ...";
constexpr char kBusyAdvice[] =
    "Нужно в браузере на странице Демо в параметрах связи увеличить время частоты опроса!";
constexpr char kThreadFault[] = "FAULT! Создание потока ...";
// What the general error report says of an exception that is not a standard one.
constexpr char kUnknownFault[] = "Unknown error";
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

TBridgeServer::TBridgeServer(TRavo32& link, TBridgeHost& host, QObject* parent,
                             TThreadStarter startThread)
    : QObject(parent), Link(link), Host(host), StartWorkerThread(std::move(startThread)) {
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
    if (Busy() && ClientSocket != nullptr && PeerHasClosed(*ClientSocket)) {
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
    TAccessVerdict verdict;
    if (RefuseByAccess(socket, connection.Request.Bytes(), verdict)) {
        connection.Request.Clear();
        return;
    }
    StartWorker(socket, connection.Request, verdict);
}

bool TBridgeServer::RefuseByAccess(QTcpSocket* socket, std::string_view received,
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

void TBridgeServer::StartWorker(QTcpSocket* socket, TRequestAssembler& request,
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
        WorkerThread = StartWorkerThread(
            [this, generation, received = std::string(request.Bytes()),
             options = std::move(options)] { ServeOnWorker(generation, received, options); });
    } catch (const std::system_error&) {
        // The request stays with its connection, unread and unanswered, as if it had never
        // been taken: the next data on that connection brings it along.
        ClientSocket = nullptr;
        Host.LogError(kThreadFault);
        return;
    }
    request.Clear();
}

void TBridgeServer::ServeOnWorker(uint64_t generation, const std::string& received,
                                  const TProcedureOptions& options) noexcept {
    // An exception that left the thread would end the process; it becomes the general error
    // report on the server's thread instead, and the request goes unanswered.
    std::optional<std::string> response;
    std::optional<std::string> fault;
    try {
        response = ServeRequest(received, Link, Host, options);
    } catch (const std::exception& error) {
        fault = *error.what() != '\0' ? error.what() : kUnknownFault;
    } catch (...) {
        fault = kUnknownFault;
    }
    try {
        Inbox.Post(
            [this, generation, response = std::move(response), fault = std::move(fault)]() mutable {
                FinishRequest(generation, std::move(response), fault);
            });
    } catch (...) {
        // Not even the hand-over could be queued (no memory left): the server stays busy until
        // its shutdown joins this thread, rather than the process ending here.
    }
}

void TBridgeServer::FinishRequest(uint64_t generation, std::optional<std::string> response,
                                  const std::optional<std::string>& fault) {
    if (fault) {
        if (ReportFault) {
            ReportFault(*fault);
        } else {
            Host.LogError(*fault);
        }
    }
    if (generation != Generation || !WorkerThread.joinable()) {
        return;
    }
    // The busy mark is cleared and the reply handed over in one step, so a client that sends
    // its next request the moment it reads the reply is served.
    WorkerThread.join();
    // A worker cut short by an exception may have left the port open.
    if (Link.IsOpen()) {
        Link.Disconnect();
    }
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
