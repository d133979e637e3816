// The listening sockets on Winsock. The caller has started Winsock (WSAStartup).
#include "Win32ListenSocket.h"

// Winsock's headers come before windows.h, and the helper API's after them.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
// clang-format on

#include <array>
#include <cstring>
#include <vector>

#include "AddressText.h"
#include "ListenSocket.h"
#include "Win32Text.h"

namespace {

// A port chosen by the system for 127.0.0.1 may be taken on ::1; a few tries find a free pair.
constexpr int kFreePortTries = 8;

void CloseAll(const TListenSocket& opened) {
    for (const intptr_t socket : opened.Sockets) {
        closesocket(static_cast<SOCKET>(socket));
    }
}

// One listening socket; INVALID_SOCKET with the error and the failing call when it fails.
SOCKET Listen(const sockaddr* address, int size, bool v6only, int& error, const char*& failedCall) {
    // Not inherited: a program the bridge started must not keep the port open.
    const SOCKET listener = WSASocketW(address->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (listener == INVALID_SOCKET) {
        error = WSAGetLastError();
        failedCall = "socket";
        return INVALID_SOCKET;
    }
    // No other program may bind the port beside the bridge, whatever options it asks for.
    const DWORD on = 1;
    const DWORD v6 = v6only ? 1 : 0;
    if (setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0 ||
        (address->sa_family == AF_INET6 &&
         setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&v6),
                    sizeof v6) != 0)) {
        failedCall = "setsockopt";
    } else if (bind(listener, address, size) != 0) {
        failedCall = "bind";
    } else if (listen(listener, SOMAXCONN) != 0) {
        failedCall = "listen";
    } else {
        return listener;
    }
    error = WSAGetLastError();
    closesocket(listener);
    return INVALID_SOCKET;
}

TListenSocket ListenOnEveryInterface(uint16_t port) {
    const char* call = nullptr;
    int error = 0;
    sockaddr_in6 any6{};
    any6.sin6_family = AF_INET6;
    any6.sin6_addr = in6addr_any;
    any6.sin6_port = htons(port);
    SOCKET listener =
        Listen(reinterpret_cast<const sockaddr*>(&any6), sizeof any6, false, error, call);
    if (listener == INVALID_SOCKET && error == WSAEAFNOSUPPORT) {
        sockaddr_in any4{};
        any4.sin_family = AF_INET;
        any4.sin_addr.s_addr = htonl(INADDR_ANY);
        any4.sin_port = htons(port);
        listener =
            Listen(reinterpret_cast<const sockaddr*>(&any4), sizeof any4, false, error, call);
    }
    if (listener == INVALID_SOCKET) {
        return TListenSocket{{}, error, call, {}};
    }
    return TListenSocket{{static_cast<intptr_t>(listener)}, 0, {}, {"*"}};
}

uint16_t BoundPort(SOCKET listener) {
    sockaddr_in address{};
    int size = sizeof address;
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

TListenSocket ListenOnLoopback(uint16_t port) {
    const char* call = nullptr;
    int error = 0;
    for (int attempt = 0;; ++attempt) {
        sockaddr_in loopback4{};
        loopback4.sin_family = AF_INET;
        loopback4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        loopback4.sin_port = htons(port);
        const SOCKET listener4 = Listen(reinterpret_cast<const sockaddr*>(&loopback4),
                                        sizeof loopback4, false, error, call);
        if (listener4 == INVALID_SOCKET) {
            return TListenSocket{{}, error, call, {}};
        }
        TListenSocket opened{{static_cast<intptr_t>(listener4)}, 0, {}, {"127.0.0.1"}};
        sockaddr_in6 loopback6{};
        loopback6.sin6_family = AF_INET6;
        loopback6.sin6_addr = in6addr_loopback;
        loopback6.sin6_port = htons(BoundPort(listener4));
        const SOCKET listener6 = Listen(reinterpret_cast<const sockaddr*>(&loopback6),
                                        sizeof loopback6, true, error, call);
        if (listener6 != INVALID_SOCKET) {
            opened.Sockets.push_back(static_cast<intptr_t>(listener6));
            opened.Addresses.emplace_back("::1");
            return opened;
        }
        // A machine without IPv6 serves on 127.0.0.1 alone.
        if (error == WSAEAFNOSUPPORT || error == WSAEADDRNOTAVAIL) {
            return opened;
        }
        CloseAll(opened);
        if (port != 0 || error != WSAEADDRINUSE || attempt + 1 >= kFreePortTries) {
            return TListenSocket{{}, error, call, {}};
        }
    }
}

std::string AddressText(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        std::array<uint8_t, 4> bytes{};
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        std::memcpy(bytes.data(), &ipv4->sin_addr, bytes.size());
        return Ipv4AddressText(bytes);
    }
    if (address->sa_family == AF_INET6) {
        std::array<uint8_t, 16> bytes{};
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
        std::memcpy(bytes.data(), &ipv6->sin6_addr, bytes.size());
        return Ipv6AddressText(bytes);
    }
    return {};
}

// The words for the errors a listening socket meets, where the system has none of its own for
// them (wine has no texts for Winsock's codes).
std::string SocketErrorMessage(int error) {
    std::string message = Win32ErrorMessage(static_cast<unsigned long>(error));
    if (!message.empty()) {
        return message;
    }
    switch (error) {
        case WSAEACCES:
            return "Permission denied";
        case WSAEADDRINUSE:
            return "Address already in use";
        case WSAEADDRNOTAVAIL:
            return "Cannot assign requested address";
        case WSAEAFNOSUPPORT:
            return "Address family not supported by protocol";
        case WSAEMFILE:
            return "Too many open sockets";
        case WSAENOBUFS:
            return "No buffer space available";
        case WSAENETDOWN:
            return "Network is down";
        case WSANOTINITIALISED:
            return "Winsock is not started";
        default:
            return "Unknown error";
    }
}

}  // namespace

const char kWakeUpCall[] = "CreateEventW";

TListenSocket OpenListenSocket(uint16_t port, TListenScope scope) {
    return scope == TListenScope::Any ? ListenOnEveryInterface(port) : ListenOnLoopback(port);
}

std::string ListenErrorText(const TListenSocket& failure) {
    return "Windows socket error: " + SocketErrorMessage(failure.Error) + " (" +
           std::to_string(failure.Error) + "), on API '" + failure.Call + "'";
}

std::string LocalHostName() {
    std::wstring name(MAX_COMPUTERNAME_LENGTH + 1, L'\0');
    DWORD size = static_cast<DWORD>(name.size());
    if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
        if (GetLastError() != ERROR_MORE_DATA) {
            return {};
        }
        name.resize(size);
        if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size)) {
            return {};
        }
    }
    name.resize(size);
    return Utf8FromWide(name);
}

std::vector<std::string> InterfaceAddresses() {
    std::vector<std::string> addresses;
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls; a few tries are enough.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        return addresses;
    }
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress;
             unicast != nullptr; unicast = unicast->Next) {
            const std::string text = AddressText(unicast->Address.lpSockaddr);
            if (!text.empty()) {
                addresses.push_back(text);
            }
        }
    }
    return addresses;
}

std::string PeerAddressText(intptr_t socket) {
    sockaddr_storage address{};
    int size = sizeof address;
    if (getpeername(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &size) !=
        0) {
        return {};
    }
    return AddressText(reinterpret_cast<const sockaddr*>(&address));
}
