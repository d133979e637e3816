#include "ListenPlan.h"

namespace {

// A port chosen by the system for 127.0.0.1 may be taken on ::1; a few tries find a free pair.
constexpr int kFreePortTries = 8;

TListenSocket Failed(const TListener& failure) {
    return TListenSocket{{}, failure.Error, failure.Call, {}};
}

TListenSocket ListenOnEveryInterface(TListenCalls& calls, uint16_t port) {
    TListener listener = calls.Listen(TListenAddress::Ipv6Any, port);
    if (listener.Failure == TListenFailure::NoSuchFamily) {
        listener = calls.Listen(TListenAddress::Ipv4Any, port);
    }
    if (listener.Failure != TListenFailure::None) {
        return Failed(listener);
    }
    return TListenSocket{{listener.Socket}, 0, {}, {"*"}};
}

TListenSocket ListenOnLoopback(TListenCalls& calls, uint16_t port) {
    for (int attempt = 0;; ++attempt) {
        const TListener ipv4 = calls.Listen(TListenAddress::Ipv4Loopback, port);
        if (ipv4.Failure != TListenFailure::None) {
            return Failed(ipv4);
        }
        const TListener ipv6 =
            calls.Listen(TListenAddress::Ipv6Loopback, calls.BoundPort(ipv4.Socket));
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
    return scope == TListenScope::Any ? ListenOnEveryInterface(calls, port)
                                      : ListenOnLoopback(calls, port);
}
