// The HTTP client's socket calls on Windows (Winsock, started once for the test program).
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include "HttpClient.h"

namespace {

bool WinsockStarted() {
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Handle(intptr_t fd) {
    return static_cast<SOCKET>(fd);
}

}  // namespace

bool THttpClient::Connect(int port) {
    Close();
    if (!WinsockStarted()) {
        return false;
    }
    const SOCKET client = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (client == INVALID_SOCKET) {
        return false;
    }
    Fd = static_cast<intptr_t>(client);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return connect(client, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool THttpClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const int n =
            send(Handle(Fd), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool THttpClient::ReadMore(int timeoutMs) {
    WSAPOLLFD readable{Handle(Fd), POLLRDNORM, 0};
    if (WSAPoll(&readable, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[65536];
    const int n = recv(Handle(Fd), buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    Pending.append(buffer, static_cast<size_t>(n));
    return true;
}

bool THttpClient::ClosedByServer(int waitMs) {
    WSAPOLLFD readable{Handle(Fd), POLLRDNORM, 0};
    char peeked = 0;
    return WSAPoll(&readable, 1, waitMs) == 1 && recv(Handle(Fd), &peeked, 1, MSG_PEEK) == 0;
}

void THttpClient::Close() {
    if (Fd >= 0) {
        closesocket(Handle(Fd));
        Fd = -1;
    }
    Pending.clear();
}
