#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ListenPlan.h"

namespace {

// Socket calls that answer from a script, one answer a Listen, in order; every socket handed
// out is numbered, and each close is recorded, so a socket left open after a failure shows.
class TScriptedListenCalls final : public TListenCalls {
public:
    explicit TScriptedListenCalls(std::vector<TListenFailure> answers)
        : Answers(std::move(answers)) {}

    TListener Listen(TListenAddress address, uint16_t port) override {
        Asked.push_back({address, port});
        const TListenFailure answer =
            Asked.size() <= Answers.size() ? Answers[Asked.size() - 1] : TListenFailure::Other;
        if (answer != TListenFailure::None) {
            return TListener{-1, answer, static_cast<int>(answer) + 100, "bind"};
        }
        const intptr_t socket = NextSocket++;
        Open.insert(socket);
        return TListener{socket, TListenFailure::None, 0, nullptr};
    }
    uint16_t BoundPort(intptr_t socket) override {
        EXPECT_TRUE(Open.count(socket) == 1) << "the port of socket " << socket;
        return Asked.back().second == 0 ? static_cast<uint16_t>(40000 + socket)
                                        : Asked.back().second;
    }
    void Close(intptr_t socket) override {
        EXPECT_EQ(Open.erase(socket), 1u) << "socket " << socket << " closed twice or never opened";
    }

    std::vector<std::pair<TListenAddress, uint16_t>> Asked;
    std::set<intptr_t> Open;

private:
    std::vector<TListenFailure> Answers;
    intptr_t NextSocket = 1;
};

using enum TListenFailure;
using enum TListenAddress;

TEST(ListenPlanTest, OpensTheScopesSocketsAndLeavesNoneOpenOnFailure) {
    struct TRow {
        const char* Name;
        TListenScope Scope;
        uint16_t Port;
        std::vector<TListenFailure> Answers;
        std::vector<TListenAddress> ExpectedAsked;
        std::vector<intptr_t> ExpectedSockets;
        std::vector<std::string> ExpectedAddresses;
        int ExpectedError;
    };
    const std::vector<TListenFailure> ipv6AlwaysInUse = {
        None, AddressInUse, None, AddressInUse, None, AddressInUse, None, AddressInUse,
        None, AddressInUse, None, AddressInUse, None, AddressInUse, None, AddressInUse};
    std::vector<TListenAddress> eightPairs;
    for (int attempt = 0; attempt < 8; ++attempt) {
        eightPairs.insert(eightPairs.end(), {Ipv4Loopback, Ipv6Loopback});
    }
    const TRow rows[] = {
        {"both loopbacks",
         TListenScope::Loopback,
         19284,
         {None, None},
         {Ipv4Loopback, Ipv6Loopback},
         {1, 2},
         {"127.0.0.1", "::1"},
         0},
        {"no IPv6 family",
         TListenScope::Loopback,
         19284,
         {None, NoSuchFamily},
         {Ipv4Loopback, Ipv6Loopback},
         {1},
         {"127.0.0.1"},
         0},
        {"no ::1 address",
         TListenScope::Loopback,
         19284,
         {None, NoSuchAddress},
         {Ipv4Loopback, Ipv6Loopback},
         {1},
         {"127.0.0.1"},
         0},
        {"127.0.0.1 taken",
         TListenScope::Loopback,
         19284,
         {AddressInUse},
         {Ipv4Loopback},
         {},
         {},
         103},
        {"::1 taken on a fixed port",
         TListenScope::Loopback,
         19284,
         {None, AddressInUse},
         {Ipv4Loopback, Ipv6Loopback},
         {},
         {},
         103},
        {"::1 fails otherwise",
         TListenScope::Loopback,
         0,
         {None, Other},
         {Ipv4Loopback, Ipv6Loopback},
         {},
         {},
         104},
        {"a chosen port taken on ::1 once",
         TListenScope::Loopback,
         0,
         {None, AddressInUse, None, None},
         {Ipv4Loopback, Ipv6Loopback, Ipv4Loopback, Ipv6Loopback},
         {2, 3},
         {"127.0.0.1", "::1"},
         0},
        {"every chosen port taken on ::1",
         TListenScope::Loopback,
         0,
         ipv6AlwaysInUse,
         eightPairs,
         {},
         {},
         103},
        {"every interface, both families",
         TListenScope::Any,
         19284,
         {None},
         {Ipv6Any},
         {1},
         {"*"},
         0},
        {"every interface, IPv4 alone",
         TListenScope::Any,
         19284,
         {NoSuchFamily, None},
         {Ipv6Any, Ipv4Any},
         {1},
         {"*"},
         0},
        {"every interface taken", TListenScope::Any, 19284, {AddressInUse}, {Ipv6Any}, {}, {}, 103},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TScriptedListenCalls calls(row.Answers);
        const TListenSocket opened = OpenListenSockets(calls, row.Port, row.Scope);
        std::vector<TListenAddress> asked;
        for (const auto& [address, port] : calls.Asked) {
            asked.push_back(address);
        }
        EXPECT_EQ(asked, row.ExpectedAsked);
        EXPECT_EQ(opened.Sockets, row.ExpectedSockets);
        EXPECT_EQ(opened.Addresses, row.ExpectedAddresses);
        EXPECT_EQ(opened.Error, row.ExpectedError);
        EXPECT_EQ(opened.Call, row.ExpectedError == 0 ? "" : "bind");
        // What is not handed over is closed; what is handed over stays open.
        EXPECT_EQ(calls.Open, std::set<intptr_t>(opened.Sockets.begin(), opened.Sockets.end()));
        // Both loopback sockets share one port.
        if (calls.Asked.size() >= 2 && calls.Asked[1].first == Ipv6Loopback) {
            EXPECT_EQ(calls.Asked[1].second, row.Port == 0 ? 40001 : row.Port);
        }
    }
}

}  // namespace
