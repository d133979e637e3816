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
#include "ListenPlan.h"
#include "ListenSocket.h"
#include "Win32SystemLibraries.h"
#include "Win32Text.h"

namespace {

using TGetAdaptersAddresses = decltype(&GetAdaptersAddresses);

// The IP helper is not one of the DLLs that Windows always takes from the system folder, so it is
// loaded from there at run time, once; null when it cannot be.
TGetAdaptersAddresses AdaptersAddressesCall() {
    static const TGetAdaptersAddresses call = [] {
        const HMODULE helper = LoadSystemLibrary(L"iphlpapi.dll");
        const FARPROC found =
            helper == nullptr ? nullptr : GetProcAddress(helper, "GetAdaptersAddresses");
        return reinterpret_cast<TGetAdaptersAddresses>(reinterpret_cast<void*>(found));
    }();
    return call;
}

TListenFailure FailureOf(int error) {
    switch (error) {
        case WSAEAFNOSUPPORT:
            return TListenFailure::NoSuchFamily;
        case WSAEADDRNOTAVAIL:
            return TListenFailure::NoSuchAddress;
        case WSAEADDRINUSE:
            return TListenFailure::AddressInUse;
        default:
            return TListenFailure::Other;
    }
}

class TWinsockListenCalls final : public TListenCalls {
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
        const int size = ipv6 ? sizeof ipv6Address : sizeof ipv4Address;

        // Not inherited: a program the bridge started must not keep the port open.
        const SOCKET listener = WSASocketW(chosen->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                           WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (listener == INVALID_SOCKET) {
            return Failed(WSAGetLastError(), "socket");
        }
        // No other program may bind the port beside the bridge, whatever options it asks for.
        const DWORD on = 1;
        const DWORD v6only = address == TListenAddress::Ipv6Loopback ? 1 : 0;
        const char* failedCall = nullptr;
        if (setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                       reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
            (ipv6 && setsockopt(listener, IPPROTO_IPV6, IPV6_V6ONLY,
                                reinterpret_cast<const char*>(&v6only), sizeof v6only) != 0)) {
            failedCall = "setsockopt";
        } else if (bind(listener, chosen, size) != 0) {
            failedCall = "bind";
        } else if (listen(listener, SOMAXCONN) != 0) {
            failedCall = "listen";
        } else {
            return TListener{static_cast<intptr_t>(listener), TListenFailure::None, 0, nullptr};
        }
        const int error = WSAGetLastError();
        closesocket(listener);
        return Failed(error, failedCall);
    }

    uint16_t BoundPort(intptr_t socket) override {
        sockaddr_in address{};
        int size = sizeof address;
        getsockname(static_cast<SOCKET>(socket), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    void Close(intptr_t socket) override { closesocket(static_cast<SOCKET>(socket)); }

private:
    static TListener Failed(int error, const char* call) {
        return TListener{-1, FailureOf(error), error, call};
    }
};

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
    TWinsockListenCalls calls;
    return OpenListenSockets(calls, port, scope);
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
    const TGetAdaptersAddresses getAdaptersAddresses = AdaptersAddressesCall();
    if (getAdaptersAddresses == nullptr) {
        return addresses;
    }
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the two calls; a few tries are enough.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = getAdaptersAddresses(
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
