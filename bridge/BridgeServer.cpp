#include "BridgeServer.h"

#include <unistd.h>

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <exception>
#include <system_error>

#include "DemoPages.h"
#include "ListenSocket.h"
#include "MonotonicClock.h"
#include "Ravo32.h"
#include "RequestAssembler.h"
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

std::string UnloggedBusyLine(uint64_t count) {
    return "Ещё запросов во время обработки предыдущей команды без строки в журнале: " +
           std::to_string(count);
}

std::string PeerText(const QTcpSocket& socket) {
    return socket.peerAddress().toString().toStdString();
}

}  // namespace

struct TBridgeServer::TConnection {
    // Order of acceptance: the oldest idle connection gives way when there are too many.
    uint64_t Sequence = 0;
    std::string Peer;
    TRequestAssembler Request{kMaxRequestBytes};
    QElapsedTimer SinceFirstByte;
    QTimer Wait;
};

TBridgeServer::TBridgeServer(TRavo32& link, TBridgeHost& host, QObject* parent,
                             TThreadStarter startThread)
    : QObject(parent),
      Link(link),
      Host(host),
      StartWorkerThread(std::move(startThread)),
      BusyLines(UnloggedBusyLine) {
    Gate.SetAddressSource(InterfaceAddresses);
    LineFlush.setSingleShot(true);
    connect(&LineFlush, &QTimer::timeout, this, [this] { FlushLines(); });
}

TBridgeServer::~TBridgeServer() {
    for (const auto& [socket, connection] : Connections) {
        QObject::disconnect(socket, nullptr, this, nullptr);
    }
    StopWorker();
}

void TBridgeServer::SetAccess(TAccessSettings access) {
    Gate.SetSettings(std::move(access));
}

int TBridgeServer::SetupError() const {
    return Link.StopSetupError() != 0 ? Link.StopSetupError() : Inbox.SetupError();
}

bool TBridgeServer::Open(uint16_t port, std::string& errorText) {
    if (const int setupError = SetupError(); setupError != 0) {
        errorText = ListenErrorText(TListenSocket{{}, setupError, "eventfd", {}});
        return false;
    }
    const TListenSocket listening = OpenListenSocket(port, Gate.Settings().Listen);
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
    Gate.SetLocalNames(ListeningPort(), LocalHostName());
    return true;
}

uint16_t TBridgeServer::ListeningPort() const {
    return Servers.empty() ? 0 : Servers.front()->serverPort();
}

std::string TBridgeServer::ListeningLine() const {
    const std::string port = std::to_string(ListeningPort());
    if (Gate.Settings().Listen == TListenScope::Any) {
        return "Сервер слушает порт " + port + " на всех интерфейсах (Listen=any)";
    }
    std::string addresses;
    for (const std::string& address : ListeningAddresses) {
        addresses += (addresses.empty() ? "" : " и ") + address;
    }
    return "Сервер слушает порт " + port + " только на " + addresses +
           ": запросы лишь с этого компьютера";
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
        connection->Peer = PeerText(*socket);
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
    const auto found = Connections.find(socket);
    if (found == Connections.end()) {
        return;
    }
    TConnection& connection = *found->second;
    // Only a request for the bridge's page goes on while another is served: it never touches the
    // line. Any other data stays unread: the page asks faster than the line answers.
    if (Busy() &&
        (socket == ClientSocket || !MayBeDemoPageRequest(HeldBytes(connection, *socket)))) {
        NoteBusy();
        return;
    }
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
    const TGateDecision decision = Gate.Decide({.Received = connection.Request.Bytes(),
                                                .Peer = connection.Peer,
                                                .NowMs = MonotonicMs(),
                                                .ErrorsOnly = Host.ViewError(),
                                                .CanAsk = static_cast<bool>(AskAboutOrigin),
                                                .Busy = Busy()});
    if (decision.Question && AskAboutOrigin(*decision.Question)) {
        Gate.OriginAsked(*decision.Question);
    }
    WriteLines(decision.Lines);
    if (decision.Action == TGateAction::Busy) {
        // Held with its connection like unread data: the next data on it brings it along.
        NoteBusy();
        return;
    }
    if (decision.Action == TGateAction::Answer) {
        connection.Request.Clear();
        socket->write(decision.Response.data(), static_cast<qint64>(decision.Response.size()));
        return;
    }
    StartWorker(socket, connection, decision.Verdict);
}

std::string TBridgeServer::HeldBytes(const TConnection& connection, QTcpSocket& socket) {
    const std::string_view assembled = connection.Request.Bytes();
    if (assembled.size() >= kDemoPageRequestStartBytes) {
        return std::string(assembled.substr(0, kDemoPageRequestStartBytes));
    }
    const QByteArray waiting =
        socket.peek(static_cast<qint64>(kDemoPageRequestStartBytes - assembled.size()));
    return std::string(assembled) +
           std::string(waiting.constData(), static_cast<size_t>(waiting.size()));
}

void TBridgeServer::NoteBusy() {
    // A client that keeps sending must not fill the log, so the lines have the refusals' limit.
    std::vector<TLogEntry> lines;
    BusyLines.Note(MonotonicMs(), {{TLogKind::Error, kBusyText}, {TLogKind::Notice, kBusyAdvice}},
                   lines);
    WriteLines(lines);
}

void TBridgeServer::WriteLines(const std::vector<TLogEntry>& lines) {
    WriteLogEntries(Host, lines);
    // One timer writes the count lines of both limits, at the earlier of their times.
    std::optional<uint64_t> due = Gate.FlushDue();
    if (const std::optional<uint64_t> busyDue = BusyLines.FlushDue();
        busyDue && (!due || *busyDue < *due)) {
        due = busyDue;
    }
    if (!due) {
        return;
    }
    const uint64_t now = MonotonicMs();
    const int delay = static_cast<int>(*due > now ? *due - now : 0);
    if (!LineFlush.isActive() || LineFlush.remainingTime() > delay) {
        LineFlush.start(delay);
    }
}

void TBridgeServer::FlushLines() {
    const uint64_t now = MonotonicMs();
    std::vector<TLogEntry> lines = Gate.Flush(now);
    BusyLines.Flush(now, lines);
    // Also arms the timer again when it fired before either limit's time.
    WriteLines(lines);
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

void TBridgeServer::StartWorker(QTcpSocket* socket, TConnection& connection,
                                const TAccessVerdict& verdict) {
    Link.ResetStop();
    ClientSocket = socket;
    const uint64_t generation = ++Generation;
    TProcedureOptions options;
    options.Ports = Gate.Settings().Ports;
    options.PortRefused = [this, peer = connection.Peer, verdict](const std::string& reason) {
        Inbox.Post([this, peer, verdict, reason] {
            WriteLines(Gate.PortRefused(reason, peer, verdict, MonotonicMs()));
        });
    };
    try {
        WorkerThread = StartWorkerThread(
            [this, generation, received = std::string(connection.Request.Bytes()),
             options = std::move(options)] { ServeOnWorker(generation, received, options); });
    } catch (const std::system_error&) {
        // The request stays with its connection, unread and unanswered, as if it had never
        // been taken: the next data on that connection brings it along.
        ClientSocket = nullptr;
        Host.LogError(kThreadFault);
        return;
    }
    connection.Request.Clear();
}

void TBridgeServer::ServeOnWorker(uint64_t generation, const std::string& received,
                                  const TProcedureOptions& options) noexcept {
    // An exception that left the thread would end the process. One that escaped the request's
    // own fault reply (the host itself failed) becomes the general error report on the server's
    // thread, and the request is still answered with the internal fault.
    std::optional<std::string> response;
    std::optional<std::string> fault;
    try {
        response = ServeRequest(received, Link, Host, options);
    } catch (const std::exception& error) {
        fault = *error.what() != '\0' ? error.what() : kUnknownFault;
    } catch (...) {
        fault = kUnknownFault;
    }
    if (fault) {
        try {
            response = InternalFaultResponse();
        } catch (...) {
            // No memory even for the reply: the page's own time-out ends its wait.
        }
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
