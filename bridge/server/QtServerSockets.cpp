// The server's sockets, timers and inbox on Qt's event loop (Linux).
#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTimerEvent>
#include <cerrno>
#include <unordered_map>
#include <vector>

#include "MainThreadInbox.h"
#include "ServerCore.h"
#include "ServerSockets.h"

namespace {

constexpr int kAcceptRetryMs = 100;
// What the socket itself buffers beyond the request being assembled.
constexpr qint64 kSocketBufferBytes = 64 * 1024;

bool PeerHasClosed(const QTcpSocket& socket) {
    // The descriptor belongs to the socket object; looking at it behind Qt's back is safe because
    // MSG_PEEK leaves the bytes queued for Qt's own read, MSG_DONTWAIT changes no flag of the
    // descriptor, and the caller is on the socket's thread, so Qt cannot close it meanwhile.
    const auto fd = static_cast<int>(socket.socketDescriptor());
    if (fd < 0) {
        return true;
    }
    char byte = 0;
    const ssize_t peeked = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    // A reset (the peer closed with data unread) ends the connection as an orderly close does.
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

class TQtServerSockets final : public QObject, public TServerSockets {
public:
    ~TQtServerSockets() override { Detach(); }

    void Attach(TServerCore& core) override { Core = &core; }

    void Detach() override {
        Core = nullptr;
        for (const auto& server : Servers) {
            QObject::disconnect(server.get(), nullptr, this, nullptr);
        }
        for (const auto& [id, socket] : Sockets) {
            QObject::disconnect(socket, nullptr, this, nullptr);
        }
    }

    TListenSocket SetupFailure() const override {
        return TListenSocket{{}, Inbox.SetupError(), kWakeUpCall, {}};
    }

    bool Listen(const TListenSocket& listening, TListenerKind kind,
                std::string& errorText) override {
        const size_t first = Servers.size();
        for (size_t index = 0; index < listening.Sockets.size(); ++index) {
            auto server = std::make_unique<QTcpServer>();
            QTcpServer* raw = server.get();
            connect(raw, &QTcpServer::newConnection, this,
                    [this, raw, kind] { AcceptConnections(*raw, kind); });
            // The server stops accepting after a failed accept (no descriptor left, for
            // instance); it must not stay deaf, so it makes room and listens again a moment later.
            connect(raw, &QTcpServer::acceptError, this, [this, raw] {
                if (Core != nullptr) {
                    Core->AcceptFailed();
                }
                QTimer::singleShot(kAcceptRetryMs, raw, [raw] { raw->resumeAccepting(); });
            });
            Servers.push_back(std::move(server));
            Kinds.push_back(kind);
            if (!raw->setSocketDescriptor(listening.Sockets[index])) {
                errorText = raw->errorString().toStdString();
                // Qt did not take this descriptor, nor has it seen the ones after it.
                for (size_t rest = index; rest < listening.Sockets.size(); ++rest) {
                    ::close(static_cast<int>(listening.Sockets[rest]));
                }
                Servers.resize(first);
                Kinds.resize(first);
                return false;
            }
        }
        return true;
    }

    uint16_t Port(TListenerKind kind) const override {
        for (size_t index = 0; index < Servers.size(); ++index) {
            if (Kinds[index] == kind) {
                return Servers[index]->serverPort();
            }
        }
        return 0;
    }

    void CloseListeners() override {
        for (const auto& server : Servers) {
            server->close();
        }
    }

    // Linux binds the port again beside connections that linger (SO_REUSEADDR), so these close
    // as usual, after what Qt still holds for them is handed to the system.
    void CloseConnections() override {
        for (const auto& [id, socket] : Sockets) {
            QObject::disconnect(socket, nullptr, this, nullptr);
            socket->flush();
            socket->abort();
            socket->deleteLater();
        }
        Sockets.clear();
    }

    size_t Read(TConnectionId connection, char* buffer, size_t size) override {
        QTcpSocket* socket = Find(connection);
        if (socket == nullptr) {
            return 0;
        }
        const qint64 got = socket->read(buffer, static_cast<qint64>(size));
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

    size_t Peek(TConnectionId connection, char* buffer, size_t size) override {
        QTcpSocket* socket = Find(connection);
        if (socket == nullptr) {
            return 0;
        }
        const qint64 got = socket->peek(buffer, static_cast<qint64>(size));
        return got > 0 ? static_cast<size_t>(got) : 0;
    }

    bool PeerHasClosed(TConnectionId connection) override {
        const QTcpSocket* socket = Find(connection);
        return socket == nullptr || ::PeerHasClosed(*socket);
    }

    void Write(TConnectionId connection, std::string_view bytes) override {
        QTcpSocket* socket = Find(connection);
        if (socket != nullptr && socket->state() == QAbstractSocket::ConnectedState) {
            socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
        }
    }

    size_t Unsent(TConnectionId connection) override {
        QTcpSocket* socket = Find(connection);
        return socket != nullptr ? static_cast<size_t>(socket->bytesToWrite()) : 0;
    }

    void Abort(TConnectionId connection) override {
        const auto found = Sockets.find(connection);
        if (found == Sockets.end()) {
            return;
        }
        QTcpSocket* socket = found->second;
        Sockets.erase(found);
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }

    void StartTimer(uint64_t timer, int delayMs) override {
        StopTimer(timer);
        const int qtTimer = startTimer(delayMs);
        if (qtTimer != 0) {
            QtTimers[timer] = qtTimer;
            CoreTimers[qtTimer] = timer;
        }
    }

    void StopTimer(uint64_t timer) override {
        const auto found = QtTimers.find(timer);
        if (found == QtTimers.end()) {
            return;
        }
        killTimer(found->second);
        CoreTimers.erase(found->second);
        QtTimers.erase(found);
    }

    void Post(std::function<void()> task) override { Inbox.Post(std::move(task)); }

protected:
    void timerEvent(QTimerEvent* event) override {
        const auto found = CoreTimers.find(event->timerId());
        if (found == CoreTimers.end()) {
            return;
        }
        const uint64_t timer = found->second;
        StopTimer(timer);
        if (Core != nullptr) {
            Core->TimerFired(timer);
        }
    }

private:
    QTcpSocket* Find(TConnectionId connection) const {
        const auto found = Sockets.find(connection);
        return found == Sockets.end() ? nullptr : found->second;
    }

    void AcceptConnections(QTcpServer& server, TListenerKind kind) {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            if (Core == nullptr) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            socket->setReadBufferSize(kSocketBufferBytes);
            std::string peer = socket->peerAddress().toString().toStdString();
            const TConnectionId id = kind == TListenerKind::ModbusTcp
                                         ? Core->AcceptedModbus(std::move(peer))
                                         : Core->Accepted(std::move(peer));
            if (id == 0) {
                socket->abort();
                socket->deleteLater();
                continue;
            }
            Sockets.emplace(id, socket);
            connect(socket, &QTcpSocket::readyRead, this, [this, id] {
                if (Core != nullptr) {
                    Core->DataArrived(id);
                }
            });
            connect(socket, &QTcpSocket::disconnected, this, [this, id, socket] {
                Sockets.erase(id);
                if (Core != nullptr) {
                    Core->Closed(id);
                }
                socket->deleteLater();
            });
        }
    }

    TServerCore* Core = nullptr;
    std::vector<std::unique_ptr<QTcpServer>> Servers;
    // The kind of each of Servers.
    std::vector<TListenerKind> Kinds;
    std::unordered_map<TConnectionId, QTcpSocket*> Sockets;
    // Both ways between the core's timer numbers and Qt's.
    std::unordered_map<uint64_t, int> QtTimers;
    std::unordered_map<int, uint64_t> CoreTimers;
    TMainThreadInbox Inbox;
};

}  // namespace

std::unique_ptr<TServerSockets> MakeServerSockets() {
    return std::make_unique<TQtServerSockets>();
}
