#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "ListenPlan.h"
#include "ListenSocket.h"

namespace {

TListenFailure FailureOf(int error) {
    switch (error) {
        case EAFNOSUPPORT:
            return TListenFailure::NoSuchFamily;
        case EADDRNOTAVAIL:
            return TListenFailure::NoSuchAddress;
        case EADDRINUSE:
            return TListenFailure::AddressInUse;
        default:
            return TListenFailure::Other;
    }
}

class TPosixListenCalls final : public TListenCalls {
public:
    TListener Listen(TListenAddress address, uint16_t port) override {
        const bool ipv6 =
            address == TListenAddress::Ipv6Loopback || address == TListenAddress::Ipv6Any;
        sockaddr_in ipv4Address{};
        ipv4Address.sin_family = AF_INET;
        ipv4Address.sin_addr.s_addr =
            htonl(address == TListenAddress::Ipv4Loopback ? INADDR_LOOPBACK : INADDR_ANY);
        ipv4Address.sin_port = htons(port);
        sockaddr_in6 ipv6Address{};
        ipv6Address.sin6_family = AF_INET6;
        ipv6Address.sin6_addr =
            address == TListenAddress::Ipv6Loopback ? in6addr_loopback : in6addr_any;
        ipv6Address.sin6_port = htons(port);
        const sockaddr* chosen = ipv6 ? reinterpret_cast<const sockaddr*>(&ipv6Address)
                                      : reinterpret_cast<const sockaddr*>(&ipv4Address);
        const socklen_t size = ipv6 ? sizeof ipv6Address : sizeof ipv4Address;

        const int fd = socket(chosen->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return Failed(errno, "socket");
        }
        const int on = 1;
        const int v6only = address == TListenAddress::Ipv6Loopback ? 1 : 0;
        const char* failedCall = nullptr;
        // A restart must not wait for the connections of the last run to leave TIME_WAIT.
        if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            (ipv6 && setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only) != 0)) {
            failedCall = "setsockopt";
        } else if (bind(fd, chosen, size) != 0) {
            failedCall = "bind";
        } else if (listen(fd, SOMAXCONN) != 0) {
            failedCall = "listen";
        } else {
            return TListener{fd, TListenFailure::None, 0, nullptr};
        }
        const int error = errno;
        close(fd);
        return Failed(error, failedCall);
    }

    uint16_t BoundPort(intptr_t socket) override {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    void Close(intptr_t socket) override { close(static_cast<int>(socket)); }

private:
    static TListener Failed(int error, const char* call) {
        return TListener{-1, FailureOf(error), error, call};
    }
};

}  // namespace

const char kWakeUpCall[] = "eventfd";

TListenSocket OpenListenSocket(uint16_t port, TListenScope scope) {
    TPosixListenCalls calls;
    return OpenListenSockets(calls, port, scope);
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
