#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ListenPlan.h"

namespace {

// What the script answers for one socket: the step that fails, and how; None: every step
// succeeds.
struct TAnswer {
    TListenFailure Failure = TListenFailure::None;
    std::string_view At = "bind";
};

using enum TListenFailure;
using enum TListenAddress;

const TAnswer kOk{};
const TAnswer kInUse{AddressInUse};

std::vector<TAnswer> Repeated(std::vector<TAnswer> answers, int times) {
    std::vector<TAnswer> repeated;
    for (int time = 0; time < times; ++time) {
        repeated.insert(repeated.end(), answers.begin(), answers.end());
    }
    return repeated;
}

std::string AddressName(TListenAddress address) {
    switch (address) {
        case Ipv4Loopback:
            return "127.0.0.1";
        case Ipv6Loopback:
            return "::1";
        case Ipv4Any:
            return "0.0.0.0";
        case Ipv6Any:
            return "::";
    }
    return "?";
}

// Socket calls that answer from a script, one answer a socket asked for, in order (beyond the
// script every bind fails); error numbers are 100 and the failure's number. Every socket handed
// out is numbered, every call written down, and each close recorded, so a socket left open after
// a failure shows.
class TScriptedListenCalls final : public TListenCalls {
public:
    explicit TScriptedListenCalls(std::vector<TAnswer> answers) : Answers(std::move(answers)) {}

    int OpenSocket(TListenAddress address, intptr_t& socket) override {
        Asked.push_back(address);
        Current = Asked.size() <= Answers.size() ? Answers[Asked.size() - 1] : TAnswer{Other};
        Calls.push_back("socket " + AddressName(address));
        if (const int error = Answer("socket"); error != 0) {
            return error;
        }
        socket = NextSocket++;
        Open.insert(socket);
        return 0;
    }
    int ClaimPort(intptr_t socket) override {
        Calls.push_back("claim " + std::to_string(socket));
        return Answer("setsockopt");
    }
    int SetIpv6Only(intptr_t socket, bool only) override {
        Calls.push_back("ipv6-only " + std::to_string(socket) + (only ? " on" : " off"));
        return Answer("setsockopt");
    }
    int Bind(intptr_t socket, TListenAddress address, uint16_t port) override {
        LastBindPort = port;
        if (address == Ipv6Loopback) {
            Ipv6LoopbackPorts.push_back({port, LastGivenPort});
        }
        Calls.push_back("bind " + std::to_string(socket) + " " + AddressName(address) + " " +
                        std::to_string(port));
        return Answer("bind");
    }
    int Listen(intptr_t socket) override {
        Calls.push_back("listen " + std::to_string(socket));
        return Answer("listen");
    }
    TListenFailure FailureOf(int error) const override {
        return static_cast<TListenFailure>(error - 100);
    }
    uint16_t BoundPort(intptr_t socket) override {
        EXPECT_TRUE(Open.count(socket) == 1) << "the port of socket " << socket;
        LastGivenPort = LastBindPort == 0 ? static_cast<uint16_t>(40000 + socket) : LastBindPort;
        return LastGivenPort;
    }
    void Close(intptr_t socket) override {
        Calls.push_back("close " + std::to_string(socket));
        EXPECT_EQ(Open.erase(socket), 1u) << "socket " << socket << " closed twice or never opened";
    }
    void Pause(int milliseconds) override {
        Calls.push_back("pause " + std::to_string(milliseconds));
        Pauses.push_back(milliseconds);
    }

    std::vector<TListenAddress> Asked;
    // Each bind of ::1: its port, and the port 127.0.0.1 was given last.
    std::vector<std::pair<uint16_t, uint16_t>> Ipv6LoopbackPorts;
    std::vector<std::string> Calls;
    std::vector<int> Pauses;
    std::set<intptr_t> Open;

private:
    int Answer(std::string_view step) const {
        return Current.Failure != None && Current.At == step
                   ? 100 + static_cast<int>(Current.Failure)
                   : 0;
    }

    std::vector<TAnswer> Answers;
    TAnswer Current;
    intptr_t NextSocket = 1;
    uint16_t LastBindPort = 0;
    uint16_t LastGivenPort = 0;
};

TEST(ListenPlanTest, OpensTheScopesSocketsWaitsForAPortInUseAndLeavesNoneOpenOnFailure) {
    struct TRow {
        const char* Name;
        TListenScope Scope;
        uint16_t Port;
        std::vector<TAnswer> Answers;
        std::vector<TListenAddress> ExpectedAsked;
        std::vector<intptr_t> ExpectedSockets;
        std::vector<std::string> ExpectedAddresses;
        int ExpectedError;
        std::string ExpectedCall;
        int ExpectedPausedMs;
    };
    const auto asked = [](std::vector<TListenAddress> addresses, int times) {
        std::vector<TListenAddress> repeated;
        for (int time = 0; time < times; ++time) {
            repeated.insert(repeated.end(), addresses.begin(), addresses.end());
        }
        return repeated;
    };
    const TRow rows[] = {
        {"both loopbacks",
         TListenScope::Loopback,
         19284,
         {kOk, kOk},
         {Ipv4Loopback, Ipv6Loopback},
         {1, 2},
         {"127.0.0.1", "::1"},
         0,
         "",
         0},
        {"no IPv6 family",
         TListenScope::Loopback,
         19284,
         {kOk, {NoSuchFamily, "socket"}},
         {Ipv4Loopback, Ipv6Loopback},
         {1},
         {"127.0.0.1"},
         0,
         "",
         0},
        {"no ::1 address",
         TListenScope::Loopback,
         19284,
         {kOk, {NoSuchAddress}},
         {Ipv4Loopback, Ipv6Loopback},
         {1},
         {"127.0.0.1"},
         0,
         "",
         0},
        {"127.0.0.1 in use a while, then free",
         TListenScope::Loopback,
         19284,
         {kInUse, kInUse, kInUse, kInUse, kInUse, kOk, kOk},
         {Ipv4Loopback, Ipv4Loopback, Ipv4Loopback, Ipv4Loopback, Ipv4Loopback, Ipv4Loopback,
          Ipv6Loopback},
         {6, 7},
         {"127.0.0.1", "::1"},
         0,
         "",
         500},
        {"::1 in use once on a fixed port",
         TListenScope::Loopback,
         19284,
         {kOk, kInUse, kOk, kOk},
         {Ipv4Loopback, Ipv6Loopback, Ipv4Loopback, Ipv6Loopback},
         {3, 4},
         {"127.0.0.1", "::1"},
         0,
         "",
         100},
        // Another program holds the port: the failure of today, after two seconds of tries.
        {"127.0.0.1 held for good",
         TListenScope::Loopback,
         19284,
         Repeated({kInUse}, 21),
         asked({Ipv4Loopback}, 21),
         {},
         {},
         103,
         "bind",
         2000},
        {"::1 held for good",
         TListenScope::Loopback,
         19284,
         Repeated({kOk, kInUse}, 21),
         asked({Ipv4Loopback, Ipv6Loopback}, 21),
         {},
         {},
         103,
         "bind",
         2000},
        {"::1 fails otherwise",
         TListenScope::Loopback,
         0,
         {kOk, {Other}},
         {Ipv4Loopback, Ipv6Loopback},
         {},
         {},
         104,
         "bind",
         0},
        {"a chosen port taken on ::1 once",
         TListenScope::Loopback,
         0,
         {kOk, kInUse, kOk, kOk},
         {Ipv4Loopback, Ipv6Loopback, Ipv4Loopback, Ipv6Loopback},
         {3, 4},
         {"127.0.0.1", "::1"},
         0,
         "",
         0},
        // A port of the system's choice is never waited for.
        {"every chosen port taken on ::1",
         TListenScope::Loopback,
         0,
         Repeated({kOk, kInUse}, 8),
         asked({Ipv4Loopback, Ipv6Loopback}, 8),
         {},
         {},
         103,
         "bind",
         0},
        {"the option refused",
         TListenScope::Loopback,
         19284,
         {{Other, "setsockopt"}},
         {Ipv4Loopback},
         {},
         {},
         104,
         "setsockopt",
         0},
        {"no listening",
         TListenScope::Loopback,
         19284,
         {{Other, "listen"}},
         {Ipv4Loopback},
         {},
         {},
         104,
         "listen",
         0},
        {"no socket at all",
         TListenScope::Any,
         19284,
         {{Other, "socket"}},
         {Ipv6Any},
         {},
         {},
         104,
         "socket",
         0},
        {"every interface, both families",
         TListenScope::Any,
         19284,
         {kOk},
         {Ipv6Any},
         {1},
         {"*"},
         0,
         "",
         0},
        {"every interface, IPv4 alone",
         TListenScope::Any,
         19284,
         {{NoSuchFamily, "socket"}, kOk},
         {Ipv6Any, Ipv4Any},
         {1},
         {"*"},
         0,
         "",
         0},
        {"every interface in use a while, then free",
         TListenScope::Any,
         19284,
         {kInUse, kInUse, kOk},
         {Ipv6Any, Ipv6Any, Ipv6Any},
         {3},
         {"*"},
         0,
         "",
         200},
        {"IPv4 alone in use once",
         TListenScope::Any,
         19284,
         {{NoSuchFamily, "socket"}, kInUse, {NoSuchFamily, "socket"}, kOk},
         {Ipv6Any, Ipv4Any, Ipv6Any, Ipv4Any},
         {2},
         {"*"},
         0,
         "",
         100},
        {"every interface held for good",
         TListenScope::Any,
         19284,
         Repeated({kInUse}, 21),
         asked({Ipv6Any}, 21),
         {},
         {},
         103,
         "bind",
         2000},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TScriptedListenCalls calls(row.Answers);
        const TListenSocket opened = OpenListenSockets(calls, row.Port, row.Scope);
        EXPECT_EQ(calls.Asked, row.ExpectedAsked);
        EXPECT_EQ(opened.Sockets, row.ExpectedSockets);
        EXPECT_EQ(opened.Addresses, row.ExpectedAddresses);
        EXPECT_EQ(opened.Error, row.ExpectedError);
        EXPECT_EQ(opened.Call, row.ExpectedCall);
        EXPECT_EQ(opened.Failure, row.ExpectedError == 0
                                      ? None
                                      : static_cast<TListenFailure>(row.ExpectedError - 100));
        EXPECT_EQ(std::accumulate(calls.Pauses.begin(), calls.Pauses.end(), 0),
                  row.ExpectedPausedMs);
        // What is not handed over is closed; what is handed over stays open.
        EXPECT_EQ(calls.Open, std::set<intptr_t>(opened.Sockets.begin(), opened.Sockets.end()));
        // Both loopback sockets share one port: each ::1 takes the port 127.0.0.1 got before it.
        for (const auto& [port, given] : calls.Ipv6LoopbackPorts) {
            EXPECT_NE(given, 0);
            EXPECT_EQ(port, given);
        }
    }
}

// Each socket is claimed before its bind (the exclusive use counts only then), listens after it;
// the IPv6 loopback takes IPv6 alone, the IPv6 wildcard IPv4 too; a socket in use is closed
// before the pause.
TEST(ListenPlanTest, EverySocketGoesThroughTheSameStepsOnEveryPlatform) {
    struct TRow {
        const char* Name;
        TListenScope Scope;
        std::vector<TAnswer> Answers;
        std::vector<std::string> ExpectedCalls;
    };
    const TRow rows[] = {
        {"loopback",
         TListenScope::Loopback,
         {kOk, kOk},
         {"socket 127.0.0.1", "claim 1", "bind 1 127.0.0.1 19284", "listen 1", "socket ::1",
          "claim 2", "ipv6-only 2 on", "bind 2 ::1 19284", "listen 2"}},
        {"every interface",
         TListenScope::Any,
         {kOk},
         {"socket ::", "claim 1", "ipv6-only 1 off", "bind 1 :: 19284", "listen 1"}},
        {"IPv4 alone",
         TListenScope::Any,
         {{NoSuchFamily, "socket"}, kOk},
         {"socket ::", "socket 0.0.0.0", "claim 1", "bind 1 0.0.0.0 19284", "listen 1"}},
        {"::1 in use once",
         TListenScope::Loopback,
         {kOk, kInUse, kOk, kOk},
         {"socket 127.0.0.1",
          "claim 1",
          "bind 1 127.0.0.1 19284",
          "listen 1",
          "socket ::1",
          "claim 2",
          "ipv6-only 2 on",
          "bind 2 ::1 19284",
          "close 2",
          "close 1",
          "pause 100",
          "socket 127.0.0.1",
          "claim 3",
          "bind 3 127.0.0.1 19284",
          "listen 3",
          "socket ::1",
          "claim 4",
          "ipv6-only 4 on",
          "bind 4 ::1 19284",
          "listen 4"}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TScriptedListenCalls calls(row.Answers);
        OpenListenSockets(calls, 19284, row.Scope);
        EXPECT_EQ(calls.Calls, row.ExpectedCalls);
    }
}

}  // namespace
