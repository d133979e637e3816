#include "PortHolder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "SpawnedProgram.h"

namespace {

constexpr int kListingBoundMs = 5000;

// As the bridge binds: connections of an earlier run left in TIME_WAIT do not count. Only
// EADDRINUSE counts, so a machine without IPv6 (::1 not available) still has a free port.
bool InUse(const sockaddr* address, socklen_t length) {
    const int probe = socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const int on = 1;
    setsockopt(probe, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const bool inUse = bind(probe, address, length) != 0 && errno == EADDRINUSE;
    close(probe);
    return inUse;
}

bool InUseOnLoopback(int port) {
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(static_cast<uint16_t>(port));
    ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(static_cast<uint16_t>(port));
    ipv6.sin6_addr = in6addr_loopback;
    return InUse(reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4) ||
           InUse(reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6);
}

std::string ListenersOf(int port) {
    TSpawnedProgram ss;
    if (!ss.Start("ss", {"-ltnpH", "sport = :" + std::to_string(port)})) {
        return "a program that ss (iproute2) would name; it is not installed";
    }
    std::string listing;
    while (auto line = ss.ReadLine(kListingBoundMs)) {
        listing += (listing.empty() ? "" : "; ") + *line;
    }
    ss.WaitForExit(kListingBoundMs);
    return listing.empty() ? "a program ss does not show" : listing;
}

}  // namespace

std::optional<std::string> PortHolder(int port) {
    if (!InUseOnLoopback(port)) {
        return std::nullopt;
    }
    return ListenersOf(port);
}

int FreeLoopbackPort() {
    const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}
