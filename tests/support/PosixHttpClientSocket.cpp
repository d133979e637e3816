// The HTTP client's socket calls on Linux.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "HttpClient.h"

bool THttpClient::Connect(int port) {
    Close();
    Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return Fd >= 0 && connect(static_cast<int>(Fd), reinterpret_cast<const sockaddr*>(&address),
                              sizeof address) == 0;
}

bool THttpClient::Send(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            send(static_cast<int>(Fd), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

bool THttpClient::ReadMore(int timeoutMs) {
    pollfd readable{static_cast<int>(Fd), POLLIN, 0};
    if (poll(&readable, 1, timeoutMs) <= 0) {
        return false;
    }
    char buffer[65536];
    const ssize_t n = recv(static_cast<int>(Fd), buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    Pending.append(buffer, static_cast<size_t>(n));
    return true;
}

bool THttpClient::ClosedByServer(int waitMs) {
    pollfd readable{static_cast<int>(Fd), POLLIN, 0};
    char byte = 0;
    return poll(&readable, 1, waitMs) == 1 && recv(static_cast<int>(Fd), &byte, 1, MSG_PEEK) == 0;
}

void THttpClient::Close() {
    if (Fd >= 0) {
        close(static_cast<int>(Fd));
        Fd = -1;
    }
    Pending.clear();
}
