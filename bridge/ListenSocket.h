#pragma once

#include <cstdint>
#include <string>

// A listening TCP socket on every local interface (IPv6 and IPv4 where the machine has IPv6),
// or the failing call and its error number.
struct TListenSocket {
    int Fd = -1;
    int Error = 0;
    std::string Call;
};

TListenSocket OpenListenSocket(uint16_t port);

// True when the peer of a connected socket has closed or reset it, though nobody has read the end
// yet, or when the socket is gone.
bool PeerHasClosed(int socketFd);

// "Windows socket error: <system message> (<number>), on API '<call>'", the text users of this
// bridge know from its first platform.
std::string ListenErrorText(const TListenSocket& failure);
