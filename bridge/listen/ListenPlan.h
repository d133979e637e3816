#pragma once

#include <cstdint>
#include <memory>

#include "AccessSettings.h"
#include "ListenSocket.h"

// Which listening sockets serve a scope, the steps that make each one, and how the failures on
// the way are met, the same on every platform; the socket calls themselves come through
// TListenCalls.
enum class TListenAddress { Ipv4Loopback, Ipv6Loopback, Ipv4Any, Ipv6Any };

// One platform's socket calls for the plan. Each gives the system's error number, 0 when it
// succeeded.
class TListenCalls {
public:
    virtual ~TListenCalls() = default;
    // A TCP socket of the address's family that programs started by the bridge do not inherit.
    virtual int OpenSocket(TListenAddress address, intptr_t& socket) = 0;
    // The platform's terms for the port: no other program may bind it beside the bridge, and a
    // restart does not wait for the connections of the last run to leave TIME_WAIT where the
    // platform lets it.
    virtual int ClaimPort(intptr_t socket) = 0;
    // On an IPv6 socket: IPv6 alone, or IPv4 too.
    virtual int SetIpv6Only(intptr_t socket, bool only) = 0;
    virtual int Bind(intptr_t socket, TListenAddress address, uint16_t port) = 0;
    virtual int Listen(intptr_t socket) = 0;
    virtual TListenFailure FailureOf(int error) const = 0;
    // The port a socket was given (the one asked for, or the system's choice for 0).
    virtual uint16_t BoundPort(intptr_t socket) = 0;
    virtual void Close(intptr_t socket) = 0;
    // Waits before a port in use is tried again.
    virtual void Pause(int milliseconds) = 0;
};

// Loopback: 127.0.0.1 and ::1 on the same port (127.0.0.1 alone where the machine has no IPv6).
// Any: one socket for IPv6 and IPv4, or IPv4 alone where the machine has no IPv6. A fixed port
// in use is tried again for up to two seconds, as the last run of the bridge may still be letting
// it go; then its failure is the one of the last try. Whatever fails, no socket is left open.
TListenSocket OpenListenSockets(TListenCalls& calls, uint16_t port, TListenScope scope);

// This platform's calls: PosixListenSocket.cpp, Win32ListenSocket.cpp (Winsock must be started).
std::unique_ptr<TListenCalls> SystemListenCalls();
