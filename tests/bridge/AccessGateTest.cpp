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
        const char* Name;
        std::string Received;
        bool ErrorsOnly;
        bool CanAsk;
        // The operator's answer before this request: allowed.
        const char* AllowedBefore;
        TGateAction Action;
        std::optional<std::string> Question;
        std::vector<TLogEntry> Lines;
    };
    const TStep steps[] = {
        {"framing for the worker",
         "GET / HTTP/1.1\r\n\r\n",
         false,
         true,
         nullptr,
         TGateAction::Serve,
         std::nullopt,
         {}},
        {"no origin, as curl",
         Request(""),
         false,
         true,
         nullptr,
         TGateAction::Serve,
         std::nullopt,
         {}},
        {"listed page",
         FromOrigin("https://known.example"),
         false,
         true,
         nullptr,
         TGateAction::Serve,
         std::nullopt,
         {FirstRequest("https://known.example")}},
        {"listed page again",
         FromOrigin("https://known.example"),
         false,
         true,
         nullptr,
         TGateAction::Serve,
         std::nullopt,
         {}},
        {"new page, someone to ask",
         FromOrigin("https://new.example"),
         false,
         true,
         nullptr,
         TGateAction::Answer,
         "https://new.example",
         {FirstRequest("https://new.example"),
          Refusal("страница ждёт ответа оператора", "https://new.example")}},
        {"new page again: asked once",
         FromOrigin("https://new.example"),
         false,
         true,
         nullptr,
         TGateAction::Answer,
         std::nullopt,
         {Refusal("страница ждёт ответа оператора", "https://new.example")}},
        {"new page, nobody to ask",
         FromOrigin("https://other.example"),
         false,
         false,
         nullptr,
         TGateAction::Answer,
         std::nullopt,
         {FirstRequest("https://other.example"),
          Refusal("страница ждёт ответа оператора", "https://other.example")}},
        {"not what a browser sends: never asked",
         FromOrigin("HTTPS://Caps.example"),
         true,
         true,
         nullptr,
         TGateAction::Answer,
         std::nullopt,
         {Refusal("страница ждёт ответа оператора", "HTTPS://Caps.example")}},
        {"errors only, then the first line later",
         FromOrigin("HTTPS://Caps.example"),
         false,
         true,
         nullptr,
         TGateAction::Answer,
         std::nullopt,
         {FirstRequest("HTTPS://Caps.example"),
          Refusal("страница ждёт ответа оператора", "HTTPS://Caps.example")}},
        {"allowed by the operator",
         FromOrigin("https://new.example"),
         false,
         true,
         "https://new.example",
         TGateAction::Serve,
         std::nullopt,
         {}},
        {"refused page",
         FromOrigin("https://old.example"),
         false,
         true,
         nullptr,
         TGateAction::Answer,
         std::nullopt,
         {FirstRequest("https://old.example"),
          Refusal("страница не разрешена", "https://old.example")}},
    };
    TAccessGate gate = AskingGate();
    uint64_t now = 10000;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Name);
        if (step.AllowedBefore != nullptr) {
            gate.DecideOrigin(step.AllowedBefore, true);
        }
        // A second apart: the limit of refusal lines plays no part here.
        now += 1000;
        const TGateDecision decision = gate.Decide({.Received = step.Received,
                                                    .Peer = kPeer,
                                                    .NowMs = now,
                                                    .ErrorsOnly = step.ErrorsOnly,
                                                    .CanAsk = step.CanAsk});
        EXPECT_EQ(decision.Action, step.Action);
        EXPECT_EQ(decision.Question, step.Question);
        EXPECT_EQ(decision.Lines, step.Lines);
        EXPECT_EQ(decision.Response,
                  step.Action == TGateAction::Answer ? AccessRefusedResponse() : "");
    }
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

// The lines of one event come whole or not at all; the first event of a second always has
// them, after the count of the second before.
TEST(LimitedLinesTest, EventsOfTwoLinesAreWrittenOrCountedWhole) {
    TLimitedLines limited([](uint64_t count) { return "count " + std::to_string(count); });
    const std::vector<TLogEntry> pair = {{TLogKind::Error, "busy"}, {TLogKind::Notice, "advice"}};
    std::vector<TLogEntry> out;
    for (uint64_t index = 0; index < 25; ++index) {
        limited.Note(100 + index, pair, out);
    }
    EXPECT_EQ(out.size(), 20U);
    out.clear();
    limited.Note(1100, pair, out);
    EXPECT_EQ(out, (std::vector<TLogEntry>{{TLogKind::Error, "count 15"}, pair[0], pair[1]}));
}

}  // namespace
