#include "ListenSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// A port chosen by the system for 127.0.0.1 may be taken on ::1; a few tries find a free pair.
constexpr int kFreePortTries = 8;

TListenSocket Failure(int fd, const char* call, TListenSocket opened = {}) {
    const int error = errno;
    if (fd >= 0) {
        close(fd);
    }
    for (const intptr_t other : opened.Sockets) {
        close(static_cast<int>(other));
    }
    return TListenSocket{{}, error, call, {}};
}

// One listening socket; fd -1 and errno set with the failing call when it fails.
int Listen(const sockaddr* address, socklen_t size, bool v6only, const char*& failedCall) {
    const int fd = socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        failedCall = "socket";
        return -1;
    }
    const int on = 1;
    const int v6 = v6only ? 1 : 0;
    // A restart must not wait for the connections of the last run to leave TIME_WAIT.
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (address->sa_family == AF_INET6 &&
         setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6, sizeof v6) != 0)) {
        failedCall = "setsockopt";
    } else if (bind(fd, address, size) != 0) {
        failedCall = "bind";
    } else if (listen(fd, SOMAXCONN) != 0) {
        failedCall = "listen";
    } else {
        return fd;
    }
    const int error = errno;
    close(fd);
    errno = error;
    return -1;
}

TListenSocket ListenOnEveryInterface(uint16_t port) {
    const char* call = nullptr;
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = in6addr_any;
    any6.sin6_port = htons(port);
    int fd = Listen(reinterpret_cast<const sockaddr*>(&any6), sizeof any6, false, call);
    if (fd < 0 && errno == EAFNOSUPPORT) {
        sockaddr_in any4{};
        any4.sin_family = AF_INET;
        any4.sin_addr.s_addr = htonl(INADDR_ANY);
        any4.sin_port = htons(port);
        fd = Listen(reinterpret_cast<const sockaddr*>(&any4), sizeof any4, false, call);
    }
    if (fd < 0) {
        return Failure(-1, call);
    }
    return TListenSocket{{fd}, 0, {}, {"*"}};
}

uint16_t BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

TListenSocket ListenOnLoopback(uint16_t port) {
    const char* call = nullptr;
    for (int attempt = 0;; ++attempt) {
        sockaddr_in loopback4{};
        loopback4.sin_family = AF_INET;
        loopback4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        loopback4.sin_port = htons(port);
        const int fd4 =
            Listen(reinterpret_cast<const sockaddr*>(&loopback4), sizeof loopback4, false, call);
        if (fd4 < 0) {
            return Failure(-1, call);
        }
        TListenSocket opened{{fd4}, 0, {}, {"127.0.0.1"}};
        sockaddr_in6 loopback6{};
        loopback6.sin6_family = AF_INET6;
        loopback6.sin6_addr = in6addr_loopback;
        loopback6.sin6_port = htons(BoundPort(fd4));
        const int fd6 =
            Listen(reinterpret_cast<const sockaddr*>(&loopback6), sizeof loopback6, true, call);
        if (fd6 >= 0) {
            opened.Sockets.push_back(fd6);
            opened.Addresses.emplace_back("::1");
            return opened;
        }
        // A machine without IPv6 serves on 127.0.0.1 alone.
        if (errno == EAFNOSUPPORT || errno == EADDRNOTAVAIL) {
            return opened;
        }
        if (port != 0 || errno != EADDRINUSE || attempt + 1 >= kFreePortTries) {
            return Failure(-1, call, opened);
        }
        close(fd4);
    }
}

}  // namespace

const char kWakeUpCall[] = "eventfd";

TListenSocket OpenListenSocket(uint16_t port, TListenScope scope) {
    return scope == TListenScope::Any ? ListenOnEveryInterface(port) : ListenOnLoopback(port);
}

std::string ListenErrorText(const TListenSocket& failure) {
    return "Windows socket error: " + std::string(std::strerror(failure.Error)) + " (" +
           std::to_string(failure.Error) + "), on API '" + failure.Call + "'";
}

std::string LocalHostName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        char text[INET6_ADDRSTRLEN] = {};
        const sockaddr* address = entry->ifa_addr;
        if (address == nullptr) {
            continue;
        }
        if (address->sa_family == AF_INET &&
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text,
                      sizeof text) != nullptr) {
            addresses.emplace_back(text);
        } else if (address->sa_family == AF_INET6 &&
                   inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr,
                             text, sizeof text) != nullptr) {
            addresses.emplace_back(text);
        }
    }
    freeifaddrs(list);
    return addresses;
}
