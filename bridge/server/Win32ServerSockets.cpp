// The server's sockets, timers and inbox on Windows: Winsock sockets whose events come as
// messages to a message-only window (WSAAsyncSelect), so that every socket stays on the thread
// that runs the message loop, as Qt's sockets stay on the server's thread on Linux.
// Winsock's headers come before windows.h.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "MainThreadInbox.h"
#include "ServerCore.h"
#include "ServerSockets.h"
#include "Win32ListenSocket.h"
#include "Win32MessageWindow.h"

namespace {

constexpr UINT kSocketEvent = WM_APP + 1;
constexpr int kAcceptRetryMs = 100;
// What a connection buffers beyond the request being assembled; while it is full, nothing more
// is read from the system, which keeps the rest.
constexpr size_t kInputLimitBytes = 64 * 1024;
// Window timer numbers: the accept retry, then the core's timers above this base.
constexpr UINT_PTR kAcceptRetryTimer = 1;
constexpr UINT_PTR kCoreTimerBase = 16;

class TWin32ServerSockets final : public TServerSockets {
public:
    TWin32ServerSockets()
        : Window([this](UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
              return Handle(message, wParam, lParam, result);
          }) {
        WSADATA data{};
        StartupError = WSAStartup(MAKEWORD(2, 2), &data);
    }

    ~TWin32ServerSockets() override {
        Detach();
        CloseListeners();
        CloseConnections();
        if (StartupError == 0) {
            WSACleanup();
        }
    }

    void Attach(TServerCore& core) override { Core = &core; }
    void Detach() override { Core = nullptr; }

    TListenSocket SetupFailure() const override {
        if (StartupError != 0) {
            return TListenSocket{{}, StartupError, "WSAStartup", {}};
        }
        if (Window.Handle() == nullptr) {
            return TListenSocket{{}, static_cast<int>(Window.SetupError()), "CreateWindowExW", {}};
        }
        return TListenSocket{{}, Inbox.SetupError(), "CreateWindowExW", {}};
    }

    bool Listen(const TListenSocket& listening, TListenerKind kind,
                std::string& errorText) override {
        const size_t first = Listeners.size();
        for (const intptr_t socket : listening.Sockets) {
            Listeners.push_back(static_cast<SOCKET>(socket));
            ListenerKinds.push_back(kind);
        }
        if (!WatchListeners(true)) {
            errorText = ListenErrorText(TListenSocket{{}, WSAGetLastError(), "WSAAsyncSelect", {}});
            // Only this set closes; another kind's listening goes on.
            for (size_t index = first; index < Listeners.size(); ++index) {
                closesocket(Listeners[index]);
            }
            Listeners.resize(first);
            ListenerKinds.resize(first);
            return false;
        }
        return true;
    }

    uint16_t Port(TListenerKind kind) const override {
        const auto found = std::find(ListenerKinds.begin(), ListenerKinds.end(), kind);
        if (found == ListenerKinds.end()) {
            return 0;
        }
        sockaddr_storage address{};
        int size = sizeof address;
        if (getsockname(Listeners[static_cast<size_t>(found - ListenerKinds.begin())],
                        reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            return 0;
        }
        return ntohs(address.ss_family == AF_INET6
                         ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                         : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }

    void CloseListeners() override {
        for (const SOCKET listener : Listeners) {
            closesocket(listener);
        }
        Listeners.clear();
        ListenerKinds.clear();
    }

    // With exclusive use, Windows refuses to bind the port again while one of its connections
    // lingers, and the side that closes first lingers in TIME_WAIT for minutes. So a connection
    // whose peer has not closed is reset (a zero linger time): the replies handed to the system
    // have had the shutdown's pause to leave, and a request still unanswered gets no reply
    // either way.
    void CloseConnections() override {
        for (const auto& [id, client] : Clients) {
            if (!client.PeerClosed) {
                const linger reset{1, 0};
                setsockopt(client.Socket, SOL_SOCKET, SO_LINGER,
                           reinterpret_cast<const char*>(&reset), sizeof reset);
            }
            closesocket(client.Socket);
        }
        Clients.clear();
        Connections.clear();
    }

    size_t Read(TConnectionId connection, char* buffer, size_t size) override {
        TClient* client = Find(connection);
        if (client == nullptr) {
            return 0;
        }
        const size_t taken = std::min(size, client->Input.size());
        std::copy_n(client->Input.begin(), taken, buffer);
        const bool wasFull = client->Input.size() >= kInputLimitBytes;
        client->Input.erase(0, taken);
        // Reading from the system again also asks it for the next FD_READ.
        if (wasFull && taken > 0) {
            Fill(*client);
        }
        return taken;
    }

    size_t Peek(TConnectionId connection, char* buffer, size_t size) override {
        const TClient* client = Find(connection);
        if (client == nullptr) {
            return 0;
        }
        const size_t copied = std::min(size, client->Input.size());
        std::copy_n(client->Input.begin(), copied, buffer);
        return copied;
    }

    bool PeerHasClosed(TConnectionId connection) override {
        TClient* client = Find(connection);
        if (client == nullptr || client->PeerClosed) {
            return true;
        }
        // Readable with nothing to read is an orderly close or a reset. Neither select nor
        // FIONREAD asks for another FD_READ, as a peeking recv would.
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(client->Socket, &readable);
        timeval now{0, 0};
        u_long held = 0;
        return select(0, &readable, nullptr, nullptr, &now) == 1 &&
               ioctlsocket(client->Socket, FIONREAD, &held) == 0 && held == 0;
    }

    void Write(TConnectionId connection, std::string_view bytes) override {
        TClient* client = Find(connection);
        if (client == nullptr || client->PeerClosed) {
            return;
        }
        client->Output.append(bytes);
        Flush(*client);
    }

    size_t Unsent(TConnectionId connection) override {
        const TClient* client = Find(connection);
        return client != nullptr ? client->Output.size() : 0;
    }

    void Abort(TConnectionId connection) override {
        const auto found = Clients.find(connection);
        if (found == Clients.end()) {
            return;
        }
        const SOCKET socket = found->second.Socket;
        Connections.erase(socket);
        Clients.erase(found);
        closesocket(socket);
    }

    void StartTimer(uint64_t timer, int delayMs) override {
        SetTimer(Window.Handle(), kCoreTimerBase + timer, static_cast<UINT>(std::max(delayMs, 0)),
                 nullptr);
    }

    void StopTimer(uint64_t timer) override { KillTimer(Window.Handle(), kCoreTimerBase + timer); }

    void Post(std::function<void()> task) override { Inbox.Post(std::move(task)); }

private:
    struct TClient {
        SOCKET Socket = INVALID_SOCKET;
        // Received and not yet taken by the core.
        std::string Input;
        // Written and not yet taken by the system.
        std::string Output;
        bool PeerClosed = false;
    };

    TClient* Find(TConnectionId connection) {
        const auto found = Clients.find(connection);
        return found == Clients.end() ? nullptr : &found->second;
    }

    bool WatchListeners(bool watch) {
        for (const SOCKET listener : Listeners) {
            if (WSAAsyncSelect(listener, Window.Handle(), watch ? kSocketEvent : 0,
                               watch ? FD_ACCEPT : 0) != 0) {
                return false;
            }
        }
        return true;
    }

    bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
        result = 0;
        if (message == WM_TIMER) {
            KillTimer(Window.Handle(), wParam);
            if (wParam == kAcceptRetryTimer) {
                WatchListeners(true);
            } else if (wParam >= kCoreTimerBase && Core != nullptr) {
                Core->TimerFired(wParam - kCoreTimerBase);
            }
            return true;
        }
        if (message != kSocketEvent) {
            return false;
        }
        const auto socket = static_cast<SOCKET>(wParam);
        switch (WSAGETSELECTEVENT(lParam)) {
            case FD_ACCEPT:
                AcceptConnections(socket);
                break;
            case FD_READ:
                Receive(socket, false);
                break;
            case FD_CLOSE:
                Receive(socket, true);
                break;
            case FD_WRITE:
                if (const auto found = Connections.find(socket); found != Connections.end()) {
                    Flush(Clients.at(found->second));
                }
                break;
            default:
                break;
        }
        return true;
    }

    void AcceptConnections(SOCKET listener) {
        const auto found = std::find(Listeners.begin(), Listeners.end(), listener);
        if (found == Listeners.end()) {
            return;
        }
        const TListenerKind kind = ListenerKinds[static_cast<size_t>(found - Listeners.begin())];
        for (;;) {
            const SOCKET socket = accept(listener, nullptr, nullptr);
            if (socket == INVALID_SOCKET) {
                if (WSAGetLastError() != WSAEWOULDBLOCK) {
                    // No descriptor or buffer left: the server must not stay deaf, so it makes
                    // room and listens again a moment later, without a storm of FD_ACCEPT.
                    WatchListeners(false);
                    if (Core != nullptr) {
                        Core->AcceptFailed();
                    }
                    SetTimer(Window.Handle(), kAcceptRetryTimer, kAcceptRetryMs, nullptr);
                }
                return;
            }
            if (Core == nullptr || WSAAsyncSelect(socket, Window.Handle(), kSocketEvent,
                                                  FD_READ | FD_WRITE | FD_CLOSE) != 0) {
                closesocket(socket);
                continue;
            }
            std::string peer = PeerAddressText(static_cast<intptr_t>(socket));
            const TConnectionId id = kind == TListenerKind::ModbusTcp
                                         ? Core->AcceptedModbus(std::move(peer))
                                         : Core->Accepted(std::move(peer));
            if (id == 0) {
                closesocket(socket);
                continue;
            }
            Clients[id].Socket = socket;
            Connections[socket] = id;
        }
    }

    // Takes what the system holds, up to the limit; true when bytes came.
    bool Fill(TClient& client) {
        bool came = false;
        char chunk[16 * 1024];
        while (!client.PeerClosed && client.Input.size() < kInputLimitBytes) {
            const int room =
                static_cast<int>(std::min(sizeof chunk, kInputLimitBytes - client.Input.size()));
            const int got = recv(client.Socket, chunk, room, 0);
            if (got > 0) {
                client.Input.append(chunk, static_cast<size_t>(got));
                came = true;
            } else if (got == 0 || WSAGetLastError() != WSAEWOULDBLOCK) {
                // An orderly close or a reset: either ends the connection.
                client.PeerClosed = true;
            } else {
                break;
            }
        }
        return came;
    }

    // FD_READ, or FD_CLOSE (closing): the bytes that came go to the core first, as Qt hands over
    // the last data before the disconnection.
    void Receive(SOCKET socket, bool closing) {
        const auto found = Connections.find(socket);
        if (found == Connections.end()) {
            return;
        }
        const TConnectionId id = found->second;
        if (Fill(Clients.at(id)) && Core != nullptr) {
            Core->DataArrived(id);
        }
        TClient* client = Find(id);
        // A message for a closed socket whose handle a new connection got would find the new
        // connection open: only a close that recv confirms ends it. A full buffer cannot be read
        // to its end, so there the message is taken at its word.
        if (client == nullptr || !closing ||
            (!client->PeerClosed && client->Input.size() < kInputLimitBytes)) {
            return;
        }
        Connections.erase(socket);
        Clients.erase(id);
        closesocket(socket);
        if (Core != nullptr) {
            Core->Closed(id);
        }
    }

    void Flush(TClient& client) {
        while (!client.Output.empty()) {
            const int sent =
                send(client.Socket, client.Output.data(),
                     static_cast<int>(std::min<size_t>(client.Output.size(), 1 << 20)), 0);
            if (sent == SOCKET_ERROR) {
                // WSAEWOULDBLOCK: FD_WRITE brings the rest; any other error: FD_CLOSE follows.
                return;
            }
            client.Output.erase(0, static_cast<size_t>(sent));
        }
    }

    TServerCore* Core = nullptr;
    int StartupError = 0;
    TMessageWindow Window;
    TMainThreadInbox Inbox;
    std::vector<SOCKET> Listeners;
    // The kind of each of Listeners.
    std::vector<TListenerKind> ListenerKinds;
    std::unordered_map<TConnectionId, TClient> Clients;
    std::unordered_map<SOCKET, TConnectionId> Connections;
};

}  // namespace

std::unique_ptr<TServerSockets> MakeServerSockets() {
    return std::make_unique<TWin32ServerSockets>();
}
