#include "ListenPlan.h"

namespace {

// A port chosen by the system for 127.0.0.1 may be taken on ::1; a few tries find a free pair.
constexpr int kFreePortTries = 8;
// How long a fixed port in use is tried again, and the pause between the tries: a bridge that
// has just ended may hold it a moment longer, and one connection of it that lingers keeps
// Winsock's exclusive use from the port.
constexpr int kPortInUseWaitMs = 2000;
constexpr int kPortInUsePauseMs = 100;

// One listening socket, or the failing call and its error.
struct TListener {
    intptr_t Socket = -1;
    TListenFailure Failure = TListenFailure::None;
    int Error = 0;
    const char* Call = nullptr;
};

TListener ListenOn(TListenCalls& calls, TListenAddress address, uint16_t port) {
    intptr_t socket = -1;
    if (const int error = calls.OpenSocket(address, socket); error != 0) {
        return TListener{-1, calls.FailureOf(error), error, "socket"};
    }
    const char* call = "setsockopt";
    int error = calls.ClaimPort(socket);
    if (error == 0 &&
        (address == TListenAddress::Ipv6Loopback || address == TListenAddress::Ipv6Any)) {
        error = calls.SetIpv6Only(socket, address == TListenAddress::Ipv6Loopback);
    }
    if (error == 0) {
        call = "bind";
        error = calls.Bind(socket, address, port);
    }
    if (error == 0) {
        call = "listen";
        error = calls.Listen(socket);
    }
    if (error == 0) {
        return TListener{socket, TListenFailure::None, 0, nullptr};
    }
    calls.Close(socket);
    return TListener{-1, calls.FailureOf(error), error, call};
}

TListenSocket Failed(const TListener& failure) {
    return TListenSocket{{}, failure.Error, failure.Call, {}, failure.Failure};
}

TListenSocket ListenOnEveryInterface(TListenCalls& calls, uint16_t port) {
    TListener listener = ListenOn(calls, TListenAddress::Ipv6Any, port);
    if (listener.Failure == TListenFailure::NoSuchFamily) {
        listener = ListenOn(calls, TListenAddress::Ipv4Any, port);
    }
    if (listener.Failure != TListenFailure::None) {
        return Failed(listener);
    }
    return TListenSocket{{listener.Socket}, 0, {}, {"*"}};
}

TListenSocket ListenOnLoopback(TListenCalls& calls, uint16_t port) {
    for (int attempt = 0;; ++attempt) {
        const TListener ipv4 = ListenOn(calls, TListenAddress::Ipv4Loopback, port);
        if (ipv4.Failure != TListenFailure::None) {
            return Failed(ipv4);
        }
        const TListener ipv6 =
            ListenOn(calls, TListenAddress::Ipv6Loopback, calls.BoundPort(ipv4.Socket));
        if (ipv6.Failure == TListenFailure::None) {
            return TListenSocket{{ipv4.Socket, ipv6.Socket}, 0, {}, {"127.0.0.1", "::1"}};
        }
        // A machine without IPv6 serves on 127.0.0.1 alone.
        if (ipv6.Failure == TListenFailure::NoSuchFamily ||
            ipv6.Failure == TListenFailure::NoSuchAddress) {
            return TListenSocket{{ipv4.Socket}, 0, {}, {"127.0.0.1"}};
        }
        calls.Close(ipv4.Socket);
        if (port != 0 || ipv6.Failure != TListenFailure::AddressInUse ||
            attempt + 1 >= kFreePortTries) {
            return Failed(ipv6);
        }
    }
}

}  // namespace

TListenSocket OpenListenSockets(TListenCalls& calls, uint16_t port, TListenScope scope) {
    for (int waitedMs = 0;; waitedMs += kPortInUsePauseMs) {
        TListenSocket opened = scope == TListenScope::Any ? ListenOnEveryInterface(calls, port)
                                                          : ListenOnLoopback(calls, port);
        // A port of the system's choice is never waited for: another is chosen at once.
        if (opened.Failure != TListenFailure::AddressInUse || port == 0 ||
            waitedMs >= kPortInUseWaitMs) {
            return opened;
        }
        calls.Pause(kPortInUsePauseMs);
    }
}
