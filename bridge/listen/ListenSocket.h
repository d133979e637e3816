#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "AccessSettings.h"

// What a failed listen means, whatever the platform's number for it.
enum class TListenFailure { None, NoSuchFamily, NoSuchAddress, AddressInUse, Other };

// The listening TCP sockets, or the failing call and its error number: on the loopback
// addresses 127.0.0.1 and ::1 (the latter where the machine has IPv6), or one socket on every
// local interface (IPv6 and IPv4 where the machine has IPv6). Which sockets, in which steps, and
// what a failure leads to, is ListenPlan's; the socket calls are one realisation per platform:
// PosixListenSocket.cpp (POSIX sockets, descriptors), Win32ListenSocket.cpp (Winsock, SOCKET
// handles).
struct TListenSocket {
    std::vector<intptr_t> Sockets;
    int Error = 0;
    std::string Call;
    // The addresses listened on, as the log names them.
    std::vector<std::string> Addresses;
    // What the error means; AddressInUse is a port that another program holds.
    TListenFailure Failure = TListenFailure::None;
};

// "Windows socket error: <system message> (<number>), on API '<call>'", the text users of this
// bridge know from its first platform.
std::string ListenErrorText(const TListenSocket& failure);

// The call that makes the wake-up of a waiting thread (the link's stop request, the inbox), as
// ListenErrorText names it when the system has none to give.
extern const char kWakeUpCall[];

// The system's command that names the program holding a port, for the operator's line about a
// taken port.
extern const char kPortHolderCommand[];

// This machine's host name; empty when it has none.
std::string LocalHostName();

// The addresses of this machine's interfaces as inet_ntop writes them; none when the system
// cannot tell (a Host header that names one of them is then refused).
std::vector<std::string> InterfaceAddresses();
