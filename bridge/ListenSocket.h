#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AccessSettings.h"

class QTcpSocket;

// The listening TCP sockets, or the failing call and its error number: on the loopback
// addresses 127.0.0.1 and ::1 (the latter where the machine has IPv6), or one socket on every
// local interface (IPv6 and IPv4 where the machine has IPv6).
struct TListenSocket {
    std::vector<int> Fds;
    int Error = 0;
    std::string Call;
    // The addresses listened on, as the log names them.
    std::vector<std::string> Addresses;
};

TListenSocket OpenListenSocket(uint16_t port, TListenScope scope);

// True when the peer of a connected socket has closed or reset it, though nobody has read the end
// yet, or when the socket has no descriptor.
bool PeerHasClosed(const QTcpSocket& socket);

// "Windows socket error: <system message> (<number>), on API '<call>'", the text users of this
// bridge know from its first platform.
std::string ListenErrorText(const TListenSocket& failure);

// This machine's host name; empty when it has none.
std::string LocalHostName();

// The addresses of this machine's interfaces as inet_ntop writes them.
std::vector<std::string> InterfaceAddresses();
