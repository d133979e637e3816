#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "ListenPlan.h"
#include "ListenSocket.h"

namespace {

// The socket address of a plan's address and port.
struct TSocketAddress {
    sockaddr_storage Storage{};
    socklen_t Size = 0;
};

bool IsIpv6(TListenAddress address) {
    return address == TListenAddress::Ipv6Loopback || address == TListenAddress::Ipv6Any;
}

TSocketAddress SocketAddress(TListenAddress address, uint16_t port) {
    TSocketAddress chosen;
    if (IsIpv6(address)) {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&chosen.Storage);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_addr = address == TListenAddress::Ipv6Loopback ? in6addr_loopback : in6addr_any;
        ipv6->sin6_port = htons(port);
        chosen.Size = sizeof(sockaddr_in6);
    } else {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&chosen.Storage);
        ipv4->sin_family = AF_INET;
        ipv4->sin_addr.s_addr =
            htonl(address == TListenAddress::Ipv4Loopback ? INADDR_LOOPBACK : INADDR_ANY);
        ipv4->sin_port = htons(port);
        chosen.Size = sizeof(sockaddr_in);
    }
    return chosen;
}

int ErrorOf(int result) {
    return result == 0 ? 0 : errno;
}

class TPosixListenCalls final : public TListenCalls {
public:
    int OpenSocket(TListenAddress address, intptr_t& socket) override {
        const int fd = ::socket(IsIpv6(address) ? AF_INET6 : AF_INET,
                                SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return errno;
        }
        socket = fd;
        return 0;
    }

    // A restart must not wait for the connections of the last run to leave TIME_WAIT. Nobody
    // shares the port all the same: Linux lets no socket bind a port on which one listens.
    int ClaimPort(intptr_t socket) override {
        const int on = 1;
        return ErrorOf(
            setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on));
    }

    int SetIpv6Only(intptr_t socket, bool only) override {
        const int value = only ? 1 : 0;
        return ErrorOf(
            setsockopt(static_cast<int>(socket), IPPROTO_IPV6, IPV6_V6ONLY, &value, sizeof value));
    }

    int Bind(intptr_t socket, TListenAddress address, uint16_t port) override {
        const TSocketAddress chosen = SocketAddress(address, port);
        return ErrorOf(bind(static_cast<int>(socket),
                            reinterpret_cast<const sockaddr*>(&chosen.Storage), chosen.Size));
    }

    int Listen(intptr_t socket) override {
        return ErrorOf(listen(static_cast<int>(socket), SOMAXCONN));
    }

    TListenFailure FailureOf(int error) const override {
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

    uint16_t BoundPort(intptr_t socket) override {
        sockaddr_in address{};
        socklen_t size = sizeof address;
        getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    void Close(intptr_t socket) override { close(static_cast<int>(socket)); }

    void Pause(int milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

}  // namespace

const char kWakeUpCall[] = "eventfd";
const char kPortHolderCommand[] = "ss -ltnp";

std::unique_ptr<TListenCalls> SystemListenCalls() {
    return std::make_unique<TPosixListenCalls>();
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
