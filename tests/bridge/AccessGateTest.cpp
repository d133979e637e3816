// The access gate through runs of requests: what it serves, answers and asks, the lines it gives
// and their limit, byte for byte.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "AccessCheck.h"
#include "AccessGate.h"
#include "LimitedLines.h"

namespace {

const std::string kPeer = "127.0.0.1";
const std::string kRefused = "Error[125] - Запрос отклонён настройками доступа моста: ";

std::string Request(const std::string& headers) {
    const std::string body = "json_data=%7B%7D";
    return "POST / HTTP/1.1\r\nHost: localhost:19284\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string FromOrigin(const std::string& origin) {
    return Request("Origin: " + origin + "\r\n");
}

TLogEntry FirstRequest(const std::string& origin) {
    return {TLogKind::Info, "Первый запрос со страницы " + origin};
}

TLogEntry Refusal(const std::string& reason, const std::string& origin) {
    return {TLogKind::Error, kRefused + reason + " (адрес " + kPeer +
                                 ", Host: localhost:19284, Origin: " + origin + ")"};
}

TAccessGate AskingGate() {
    TAccessSettings access;
    access.Origins = TOriginMode::Ask;
    access.OriginDecisions = {{"https://known.example", true}, {"https://old.example", false}};
    TAccessGate gate;
    gate.SetSettings(access);
    gate.SetLocalNames(19284, "plant-pc");
    return gate;
}

TEST(AccessGateTest, ServesAnswersAndAsksAsTheOriginsAndTheOperatorSay) {
    struct TStep {
        // None: no Origin header, as curl sends.
        const char* Origin;
        bool CanAsk;
        bool Served;
        bool Asked;
        bool FirstLine;
        // The reason in the refusal line; none when served.
        const char* Refusal;
    };
    const char* const unanswered = "страница ждёт ответа оператора";
    const TStep steps[] = {
        {nullptr, true, true, false, false, nullptr},
        {"https://known.example", true, true, false, true, nullptr},
        {"https://known.example", true, true, false, false, nullptr},
        {"https://new.example", true, false, true, true, unanswered},
        // Asked once only.
        {"https://new.example", true, false, false, false, unanswered},
        {"https://other.example", false, false, false, true, unanswered},
        // Not what a browser sends: never put to the operator.
        {"HTTPS://Caps.example", true, false, false, true, unanswered},
        {"https://old.example", true, false, false, true, "страница не разрешена"},
    };
    TAccessGate gate = AskingGate();
    uint64_t now = 10000;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Origin == nullptr ? "no origin" : step.Origin);
        const std::string origin = step.Origin == nullptr ? "" : step.Origin;
        std::vector<TLogEntry> lines;
        if (step.FirstLine) {
            lines.push_back(FirstRequest(origin));
        }
        if (step.Refusal != nullptr) {
            lines.push_back(Refusal(step.Refusal, origin));
        }
        // A second apart: the limit of refusal lines plays no part here.
        now += 1000;
        const TGateDecision decision =
            gate.Decide({.Received = step.Origin == nullptr ? Request("") : FromOrigin(origin),
                         .Peer = kPeer,
                         .NowMs = now,
                         .CanAsk = step.CanAsk});
        EXPECT_EQ(decision.Action, step.Served ? TGateAction::Serve : TGateAction::Answer);
        EXPECT_EQ(decision.Response, step.Served ? "" : AccessRefusedResponse());
        EXPECT_EQ(decision.Question, step.Asked ? std::optional(origin) : std::nullopt);
        EXPECT_EQ(decision.Lines, lines);
    }

    // The operator's answer counts from the next request; errors only leave out the first line.
    gate.DecideOrigin("https://new.example", true);
    EXPECT_EQ(gate.Decide({.Received = FromOrigin("https://new.example"), .Peer = kPeer}).Action,
              TGateAction::Serve);
    const TGateDecision quiet = gate.Decide({.Received = FromOrigin("https://quiet.example"),
                                             .Peer = kPeer,
                                             .NowMs = now + 1000,
                                             .ErrorsOnly = true});
    EXPECT_EQ(quiet.Lines, std::vector<TLogEntry>{Refusal(unanswered, "https://quiet.example")});
    // A request without sound framing is the worker's: it answers 103 to 106.
    const TGateDecision unframed =
        gate.Decide({.Received = "GET / HTTP/1.1\r\n\r\n", .Peer = kPeer});
    EXPECT_EQ(unframed.Action, TGateAction::Serve);
    EXPECT_TRUE(unframed.Lines.empty());
}

// Access and port refusals share one limit: ten lines a second, then one count line, which
// comes when the second is over or before the next line.
TEST(AccessGateTest, RefusalLinesOfBothKindsShareTheLimit) {
    TAccessGate gate = AskingGate();
    TAccessVerdict verdict;
    size_t written = 0;
    for (uint64_t index = 0; index < 14; ++index) {
        const uint64_t now = 5000 + index;
        if (index % 2 == 0) {
            written += gate.Decide({.Received = FromOrigin("https://old.example"),
                                    .Peer = kPeer,
                                    .NowMs = now,
                                    .ErrorsOnly = true})
                           .Lines.size();
        } else {
            written += gate.PortRefused("COM2 нет в разделе Ports", kPeer, verdict, now).size();
        }
    }
    EXPECT_EQ(written, 10U);
    EXPECT_EQ(gate.FlushDue(), std::optional<uint64_t>(6000));
    EXPECT_TRUE(gate.Flush(5999).empty());
    EXPECT_EQ(gate.Flush(6000),
              (std::vector<TLogEntry>{{TLogKind::Error, UnloggedRefusalsLine(4)}}));
    EXPECT_FALSE(gate.FlushDue().has_value());
    EXPECT_EQ(gate.PortRefused("COM2 нет в разделе Ports", kPeer, verdict, 6100),
              (std::vector<TLogEntry>{{TLogKind::Error,
                                       "Error[126] - Порт или функция запрещены настройками моста: "
                                       "COM2 нет в разделе Ports (адрес 127.0.0.1, Host: -, "
                                       "Origin: -)"}}));
}

// With Listen=any the Host check takes the addresses the interfaces have at that moment.
TEST(AccessGateTest, ListeningEverywhereAsksForTheAddressesOfTheMoment) {
    TAccessSettings access;
    access.Listen = TListenScope::Any;
    TAccessGate gate;
    gate.SetSettings(access);
    std::vector<std::string> addresses = {"192.168.1.20"};
    gate.SetAddressSource([&addresses] { return addresses; });
    const std::string received = "POST / HTTP/1.1\r\nHost: 192.168.1.20:19284\r\n\r\njson_data=x";
    EXPECT_EQ(gate.Decide({.Received = received, .Peer = kPeer}).Action, TGateAction::Serve);
    addresses = {"192.168.1.21"};
    EXPECT_EQ(gate.Decide({.Received = received, .Peer = kPeer}).Action, TGateAction::Answer);
}

}  // namespace
