#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ListenPlan.h"

namespace {

using enum TListenFailure;
using enum TListenAddress;

// The words of a script, "N*a/b" standing for the group "a b" N times.
std::vector<std::string> Words(const std::string& script) {
    std::vector<std::string> words;
    std::istringstream stream(script);
    for (std::string word; stream >> word;) {
        const size_t star = word.find('*');
        const bool repeated = star != std::string::npos && star > 0;
        const int times = repeated ? std::stoi(word.substr(0, star)) : 1;
        const std::string group = repeated ? word.substr(star + 1) : word;
        for (int time = 0; time < times; ++time) {
            std::istringstream parts(group);
            for (std::string part; std::getline(parts, part, '/');) {
                words.push_back(part);
            }
        }
    }
    return words;
}

const std::map<TListenAddress, std::string> kAddressNames = {
    {Ipv4Loopback, "v4"}, {Ipv6Loopback, "v6"}, {Ipv4Any, "any4"}, {Ipv6Any, "any6"}};
const std::map<std::string, TListenFailure> kFailures = {{"ok", None},
                                                         {"nofamily", NoSuchFamily},
                                                         {"noaddress", NoSuchAddress},
                                                         {"inuse", AddressInUse},
                                                         {"other", Other}};

// Socket calls that answer from a script: one word a socket asked for, in order, "ok" or the
// failure and the step it comes at ("inuse" is "inuse@bind"); beyond the script every bind fails.
// Error numbers are 100 and the failure's number. Every socket handed out is numbered, every call
// written down, and each close recorded, so a socket left open after a failure shows.
class TScriptedListenCalls final : public TListenCalls {
public:
    explicit TScriptedListenCalls(const std::string& script) : Answers(Words(script)) {}

    int OpenSocket(TListenAddress address, intptr_t& socket) override {
        Asked.push_back(kAddressNames.at(address));
        const std::string answer =
            Asked.size() <= Answers.size() ? Answers[Asked.size() - 1] : "other";
        const size_t at = answer.find('@');
        Failure = kFailures.at(answer.substr(0, at));
        Step = at == std::string::npos ? "bind" : answer.substr(at + 1);
        Calls.push_back("socket " + Asked.back());
        if (const int error = Answer("socket"); error != 0) {
            return error;
        }
        socket = NextSocket++;
        Open.insert(socket);
        return 0;
    }
    int ClaimPort(intptr_t socket) override { return Call("claim", socket, "setsockopt"); }
    int SetIpv6Only(intptr_t socket, bool only) override {
        return Call(only ? "ipv6-only" : "dual-stack", socket, "setsockopt");
    }
    int Bind(intptr_t socket, TListenAddress, uint16_t port) override {
        LastBindPort = port;
        return Call("bind " + std::to_string(port), socket, "bind");
    }
    int Listen(intptr_t socket) override { return Call("listen", socket, "listen"); }
    TListenFailure FailureOf(int error) const override {
        return static_cast<TListenFailure>(error - 100);
    }
    uint16_t BoundPort(intptr_t socket) override {
        EXPECT_TRUE(Open.count(socket) == 1) << "the port of socket " << socket;
        return LastBindPort == 0 ? static_cast<uint16_t>(40000 + socket) : LastBindPort;
    }
    void Close(intptr_t socket) override {
        Calls.push_back("close " + std::to_string(socket));
        EXPECT_EQ(Open.erase(socket), 1u) << "socket " << socket << " closed twice or never opened";
    }
    void Pause(int milliseconds) override {
        Calls.push_back("pause " + std::to_string(milliseconds));
        PausedMs += milliseconds;
    }

    std::vector<std::string> Asked;
    std::vector<std::string> Calls;
    std::set<intptr_t> Open;
    int PausedMs = 0;

private:
    int Answer(const std::string& step) const {
        return Failure != None && Step == step ? 100 + static_cast<int>(Failure) : 0;
    }
    int Call(const std::string& name, intptr_t socket, const std::string& step) {
        Calls.push_back(name + " " + std::to_string(socket));
        return Answer(step);
    }

    std::vector<std::string> Answers;
    TListenFailure Failure = None;
    std::string Step;
    intptr_t NextSocket = 1;
    uint16_t LastBindPort = 0;
};

// The sockets handed over and the addresses they listen on ("1+2 on 127.0.0.1 ::1"), or the
// error and its call ("103@bind").
std::string Outcome(const TListenSocket& opened) {
    if (opened.Sockets.empty()) {
        return std::to_string(opened.Error) + "@" + opened.Call;
    }
    std::string text;
    for (const intptr_t socket : opened.Sockets) {
        text += (text.empty() ? "" : "+") + std::to_string(socket);
    }
    text += " on";
    for (const std::string& address : opened.Addresses) {
        text += " " + address;
    }
    return text;
}

TEST(ListenPlanTest, OpensTheScopesSocketsWaitsForAPortInUseAndLeavesNoneOpenOnFailure) {
    constexpr auto kLoopback = TListenScope::Loopback;
    constexpr auto kAny = TListenScope::Any;
    const struct {
        const char* Name;
        TListenScope Scope;
        uint16_t Port;
        std::string Answers;
        std::string ExpectedAsked;
        std::string ExpectedOutcome;
        int ExpectedPausedMs;
    } rows[] = {
        {"both loopbacks", kLoopback, 19284, "ok ok", "v4 v6", "1+2 on 127.0.0.1 ::1", 0},
        {"no IPv6", kLoopback, 19284, "ok nofamily@socket", "v4 v6", "1 on 127.0.0.1", 0},
        {"no ::1", kLoopback, 19284, "ok noaddress", "v4 v6", "1 on 127.0.0.1", 0},
        {"v4 in use a while", kLoopback, 19284, "5*inuse ok ok", "6*v4 v6", "6+7 on 127.0.0.1 ::1",
         500},
        {"::1 in use once", kLoopback, 19284, "ok inuse ok ok", "2*v4/v6", "3+4 on 127.0.0.1 ::1",
         100},
        // Another program holds the port: the failure of today, after two seconds of tries.
        {"127.0.0.1 held", kLoopback, 19284, "21*inuse", "21*v4", "103@bind", 2000},
        {"::1 held", kLoopback, 19284, "21*ok/inuse", "21*v4/v6", "103@bind", 2000},
        {"::1 fails otherwise", kLoopback, 0, "ok other", "v4 v6", "104@bind", 0},
        {"chosen port on ::1", kLoopback, 0, "ok inuse ok ok", "2*v4/v6", "3+4 on 127.0.0.1 ::1",
         0},
        // A port of the system's choice is never waited for.
        {"every chosen port on ::1", kLoopback, 0, "8*ok/inuse", "8*v4/v6", "103@bind", 0},
        {"option refused", kLoopback, 19284, "other@setsockopt", "v4", "104@setsockopt", 0},
        {"no listening", kLoopback, 19284, "other@listen", "v4", "104@listen", 0},
        {"no socket at all", kAny, 19284, "other@socket", "any6", "104@socket", 0},
        {"every interface", kAny, 19284, "ok", "any6", "1 on *", 0},
        {"IPv4 alone", kAny, 19284, "nofamily@socket ok", "any6 any4", "1 on *", 0},
        {"any in use a while", kAny, 19284, "inuse inuse ok", "3*any6", "3 on *", 200},
        {"IPv4 alone in use once", kAny, 19284, "nofamily@socket inuse nofamily@socket ok",
         "2*any6/any4", "2 on *", 100},
        {"every interface held", kAny, 19284, "21*inuse", "21*any6", "103@bind", 2000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TScriptedListenCalls calls(row.Answers);
        const TListenSocket opened = OpenListenSockets(calls, row.Port, row.Scope);
        EXPECT_EQ(calls.Asked, Words(row.ExpectedAsked));
        EXPECT_EQ(Outcome(opened), row.ExpectedOutcome);
        EXPECT_EQ(opened.Failure,
                  opened.Error == 0 ? None : static_cast<TListenFailure>(opened.Error - 100));
        EXPECT_EQ(calls.PausedMs, row.ExpectedPausedMs);
        // What is not handed over is closed; what is handed over stays open.
        EXPECT_EQ(calls.Open, std::set<intptr_t>(opened.Sockets.begin(), opened.Sockets.end()));
    }
}

// Each socket is claimed before its bind (the exclusive use counts only then) and listens after
// it; ::1 takes IPv6 alone, on the port that 127.0.0.1 was given, the IPv6 wildcard IPv4 too; a
// socket in use is closed before the pause, and a port of the system's choice is never waited for.
TEST(ListenPlanTest, EverySocketGoesThroughTheSameStepsOnEveryPlatform) {
    const struct {
        TListenScope Scope;
        uint16_t Port;
        std::string Answers;
        std::string ExpectedCalls;
    } rows[] = {
        {TListenScope::Loopback, 19284, "ok ok",
         "socket v4,claim 1,bind 19284 1,listen 1,socket v6,claim 2,ipv6-only 2,bind 19284 2,"
         "listen 2"},
        {TListenScope::Any, 19284, "ok", "socket any6,claim 1,dual-stack 1,bind 19284 1,listen 1"},
        {TListenScope::Any, 19284, "nofamily@socket ok",
         "socket any6,socket any4,claim 1,bind 19284 1,listen 1"},
        {TListenScope::Loopback, 0, "ok inuse ok ok",
         "socket v4,claim 1,bind 0 1,listen 1,socket v6,claim 2,ipv6-only 2,bind 40001 2,close 2,"
         "close 1,socket v4,claim 3,bind 0 3,listen 3,socket v6,claim 4,ipv6-only 4,bind 40003 4,"
         "listen 4"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Answers);
        TScriptedListenCalls calls(row.Answers);
        OpenListenSockets(calls, row.Port, row.Scope);
        std::string log;
        for (const std::string& call : calls.Calls) {
            log += (log.empty() ? "" : ",") + call;
        }
        EXPECT_EQ(log, row.ExpectedCalls);
    }
}

}  // namespace
