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

// The socket address of a plan's address and port.
struct TSocketAddress {
    sockaddr_storage Storage{};
    int Size = 0;
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
    return result == 0 ? 0 : WSAGetLastError();
}

SOCKET Handle(intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

class TWinsockListenCalls final : public TListenCalls {
public:
    int OpenSocket(TListenAddress address, intptr_t& socket) override {
        const SOCKET opened =
            WSASocketW(IsIpv6(address) ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
        if (opened == INVALID_SOCKET) {
            return WSAGetLastError();
        }
        socket = static_cast<intptr_t>(opened);
        return 0;
    }

    // No other program may bind the port beside the bridge, whatever options it asks for. The
    // price: while a connection of the last run lingers, the port cannot be bound again, which
    // the server's end and the plan's retry take care of.
    int ClaimPort(intptr_t socket) override {
        const DWORD on = 1;
        return ErrorOf(setsockopt(Handle(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                                  reinterpret_cast<const char*>(&on), sizeof on));
    }

    int SetIpv6Only(intptr_t socket, bool only) override {
        const DWORD value = only ? 1 : 0;
        return ErrorOf(setsockopt(Handle(socket), IPPROTO_IPV6, IPV6_V6ONLY,
                                  reinterpret_cast<const char*>(&value), sizeof value));
    }

    int Bind(intptr_t socket, TListenAddress address, uint16_t port) override {
        const TSocketAddress chosen = SocketAddress(address, port);
        return ErrorOf(
            bind(Handle(socket), reinterpret_cast<const sockaddr*>(&chosen.Storage), chosen.Size));
    }

    int Listen(intptr_t socket) override { return ErrorOf(listen(Handle(socket), SOMAXCONN)); }

    TListenFailure FailureOf(int error) const override {
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

    uint16_t BoundPort(intptr_t socket) override {
        sockaddr_in address{};
        int size = sizeof address;
        getsockname(Handle(socket), reinterpret_cast<sockaddr*>(&address), &size);
        return ntohs(address.sin_port);
    }

    void Close(intptr_t socket) override { closesocket(Handle(socket)); }

    void Pause(int milliseconds) override { Sleep(static_cast<DWORD>(milliseconds)); }
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
const char kPortHolderCommand[] = "netstat -ano -p tcp";

std::unique_ptr<TListenCalls> SystemListenCalls() {
    return std::make_unique<TWinsockListenCalls>();
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
