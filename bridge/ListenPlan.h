#pragma once

#include <cstdint>

#include "AccessSettings.h"
#include "ListenSocket.h"

// Which listening sockets serve a scope, and how the failures on the way are met, the same on
// every platform; the socket calls themselves come through TListenCalls.
enum class TListenAddress { Ipv4Loopback, Ipv6Loopback, Ipv4Any, Ipv6Any };

// What a failed listen means to the plan, whatever the platform's number for it.
enum class TListenFailure { None, NoSuchFamily, NoSuchAddress, AddressInUse, Other };

// One listening socket, or the failing call and its error number.
struct TListener {
    intptr_t Socket = -1;
    TListenFailure Failure = TListenFailure::None;
    int Error = 0;
    const char* Call = nullptr;
};

class TListenCalls {
public:
    virtual ~TListenCalls() = default;
    // A socket listening on the address and port. The IPv6 loopback takes IPv6 alone, the IPv6
    // wildcard IPv4 too.
    virtual TListener Listen(TListenAddress address, uint16_t port) = 0;
    // The port a listening socket was given (the one asked for, or the system's choice for 0).
    virtual uint16_t BoundPort(intptr_t socket) = 0;
    virtual void Close(intptr_t socket) = 0;
};

// Loopback: 127.0.0.1 and ::1 on the same port (127.0.0.1 alone where the machine has no IPv6).
// Any: one socket for IPv6 and IPv4, or IPv4 alone where the machine has no IPv6. Whatever fails,
// no socket is left open.
TListenSocket OpenListenSockets(TListenCalls& calls, uint16_t port, TListenScope scope);
