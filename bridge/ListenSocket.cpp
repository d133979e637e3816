#include "ListenSocket.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

TListenSocket Failure(int fd, const char* call) {
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    return TListenSocket{-1, error, call};
}

}  // namespace

TListenSocket OpenListenSocket(uint16_t port) {
    int fd = socket(AF_INET6, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const bool ipv6 = fd >= 0;
    if (!ipv6) {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    }
    if (fd < 0) {
        return Failure(fd, "socket");
    }
    const int on = 1;
    const int off = 0;
    // A restart must not wait for the connections of the last run to leave TIME_WAIT.
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (ipv6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)) {
        return Failure(fd, "setsockopt");
    }
    int bound = 0;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (bound != 0) {
        return Failure(fd, "bind");
    }
    if (listen(fd, SOMAXCONN) != 0) {
        return Failure(fd, "listen");
    }
    return TListenSocket{fd, 0, {}};
}

bool PeerHasClosed(int socketFd) {
    if (socketFd < 0) {
        return true;
    }
    char byte = 0;
    const ssize_t peeked = recv(socketFd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    // A reset (the peer closed with data unread) ends the connection as an orderly close does.
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

std::string ListenErrorText(const TListenSocket& failure) {
    return "Windows socket error: " + std::string(std::strerror(failure.Error)) + " (" +
           std::to_string(failure.Error) + "), on API '" + failure.Call + "'";
}
