// The access gate through runs of requests: what it serves, answers and asks, the lines it gives
// and their limit, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AccessCheck.h"
#include "AccessGate.h"
#include "DemoPages.h"
#include "FakeSerialIo.h"
#include "HttpFraming.h"
#include "LimitedLines.h"
#include "Ravo32.h"
#include "RecordingHost.h"
#include "RequestErrors.h"
#include "RequestWorker.h"

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

TLogEntry Refusal(const std::string& reason, const std::string& origin, int code) {
    const std::string text = code == 127 ? "Error[127] - Страница ждёт разрешения оператора в окне "
                                           "моста: "
                                         : kRefused;
    return {TLogKind::Error, text + reason + " (адрес " + kPeer +
                                 ", Host: localhost:19284, Origin: " + origin + ")"};
}

TLogEntry HowToAllow(const std::string& origin) {
    return {TLogKind::Info, "Чтобы разрешить странице " + origin +
                                " управлять устройствами, добавьте в раздел [Origins] файла "
                                "настроек строку " +
                                origin + "=1 и перезапустите мост"};
}

TAccessGate GateWith(TOriginMode mode) {
    TAccessSettings access;
    access.Origins = mode;
    access.OriginDecisions = {{"https://known.example", true}, {"https://old.example", false}};
    TAccessGate gate;
    gate.SetSettings(access);
    gate.SetLocalNames(19284, "plant-pc");
    return gate;
}

TAccessGate AskingGate() {
    return GateWith(TOriginMode::Ask);
}

struct TStep {
    // None: no Origin header, as curl sends.
    const char* Origin;
    bool CanAsk;
    // 0: served; else the code of the answer.
    int Code;
    bool Asked;
    bool FirstLine;
    // The reason in the refusal line; none when served.
    const char* Refusal;
    bool Advice = false;
    // The operator has the question in view after this step.
    bool InView = false;
};

void RunSteps(TAccessGate& gate, const std::vector<TStep>& steps) {
    uint64_t now = 10000;
    for (const TStep& step : steps) {
        SCOPED_TRACE(step.Origin == nullptr ? "no origin" : step.Origin);
        const std::string origin = step.Origin == nullptr ? "" : step.Origin;
        std::vector<TLogEntry> lines;
        if (step.FirstLine) {
            lines.push_back(FirstRequest(origin));
        }
        if (step.Refusal != nullptr) {
            lines.push_back(Refusal(step.Refusal, origin, step.Code));
        }
        if (step.Advice) {
            lines.push_back(HowToAllow(origin));
        }
        // A second apart: the limit of refusal lines plays no part here.
        now += 1000;
        const TGateDecision decision = gate.Decide(
            {.Request = ParseHttpRequest(step.Origin == nullptr ? Request("") : FromOrigin(origin)),
             .Peer = kPeer,
             .NowMs = now,
             .CanAsk = step.CanAsk});
        EXPECT_EQ(decision.Action, step.Code == 0 ? TGateAction::Serve : TGateAction::Answer);
        EXPECT_EQ(decision.Response,
                  step.Code == 0 ? "" : ErrorStatusResponse(static_cast<uint8_t>(step.Code)));
        EXPECT_EQ(decision.Question, step.Asked ? std::optional(origin) : std::nullopt);
        EXPECT_EQ(decision.Lines, lines);
        if (step.InView) {
            gate.OriginAsked(origin);
        }
    }
}

TEST(AccessGateTest, ServesAnswersAndAsksAsTheOriginsAndTheOperatorSay) {
    const char* const unanswered = "страница ждёт ответа оператора";
    const char* const refused = "страница не разрешена";
    TAccessGate gate = AskingGate();
    RunSteps(gate, {
                       {nullptr, true, 0, false, false, nullptr},
                       {"https://known.example", true, 0, false, true, nullptr},
                       {"https://known.example", true, 0, false, false, nullptr},
                       // The bridge's own page is never asked about.
                       {"http://localhost:19284", true, 0, false, true, nullptr},
                       // No room for the question: asked again with the next request.
                       {"https://new.example", true, 127, true, true, unanswered},
                       {"https://new.example", true, 127, true, false, unanswered, false, true},
                       // In view: not asked twice.
                       {"https://new.example", true, 127, false, false, unanswered},
                       {"https://other.example", false, 127, false, true, unanswered},
                       // Not what a browser sends, and null: never put to the operator.
                       {"HTTPS://Caps.example", true, 125, false, true, refused},
                       {"null", true, 125, false, true, refused},
                       {"null", true, 125, false, false, refused},
                       {"https://old.example", true, 125, false, true, refused},
                   });

    // Every origin listed or seen, with its requests; not the bridge's own page, nor what no
    // browser sends (it could be neither asked about nor listed).
    EXPECT_EQ(gate.KnownOrigins(22000),
              (std::vector<TKnownOrigin>{{"https://known.example", true, 2, 9000},
                                         {"https://new.example", std::nullopt, 3, 5000},
                                         {"https://old.example", false, 1, 0},
                                         {"https://other.example", std::nullopt, 1, 4000},
                                         {"null", std::nullopt, 2, 1000}}));

    // The operator's answer counts from the next request; errors only leave out the first line.
    gate.DecideOrigin("https://new.example", true);
    EXPECT_EQ(
        gate.Decide({.Request = ParseHttpRequest(FromOrigin("https://new.example")), .Peer = kPeer})
            .Action,
        TGateAction::Serve);
    const TGateDecision quiet =
        gate.Decide({.Request = ParseHttpRequest(FromOrigin("https://quiet.example")),
                     .Peer = kPeer,
                     .NowMs = 100000,
                     .ErrorsOnly = true});
    EXPECT_EQ(quiet.Lines,
              std::vector<TLogEntry>{Refusal(unanswered, "https://quiet.example", 127)});

    // [Origins] read again replaces every decision: a site that lost its line waits for the
    // operator, and one whose question was in view and that the file then decided is asked anew
    // once the file drops it (not left as "in view" for good).
    RunSteps(gate, {{"https://pending.example", true, 127, true, true, unanswered, false, true}});
    gate.SetOriginDecisions({{"https://pending.example", false}});
    RunSteps(gate, {
                       {"https://pending.example", true, 125, false, false, refused},
                       {"https://known.example", true, 127, true, false, unanswered},
                       {"https://new.example", true, 127, true, false, unanswered},
                   });
    gate.SetOriginDecisions({});
    RunSteps(gate, {{"https://pending.example", true, 127, true, false, unanswered}});
}

// A site the operator forgets is new again: asked about with its next request, its first line
// written again, its count started again. The origins seen are counted within a bound that a
// flood of invented ones cannot pass, and the least recently seen give way, not a site in use.
TEST(AccessGateTest, ForgottenSitesAreNewAgainAndTheSitesSeenStayWithinTheirBound) {
    const char* const unanswered = "страница ждёт ответа оператора";
    TAccessGate gate = AskingGate();
    RunSteps(gate, {
                       {"https://known.example", true, 0, false, true, nullptr},
                       {"https://new.example", true, 127, true, true, unanswered, false, true},
                   });
    gate.ForgetOrigin("https://known.example");
    gate.ForgetOrigin("https://new.example");
    EXPECT_TRUE(gate.KnownOrigins(0).size() == 1 &&
                gate.KnownOrigins(0)[0].Origin == "https://old.example");
    RunSteps(gate, {
                       {"https://known.example", true, 127, true, true, unanswered},
                       {"https://new.example", true, 127, true, true, unanswered},
                   });

    TAccessGate flooded = GateWith(TOriginMode::List);
    const auto ask = [&flooded](const std::string& origin, uint64_t nowMs) {
        flooded.Decide(
            {.Request = ParseHttpRequest(FromOrigin(origin)), .Peer = kPeer, .NowMs = nowMs});
    };
    const auto invented = [](size_t index) {
        return "https://" + std::to_string(index) + ".flood.example";
    };
    ask("https://inuse.example", 1);
    for (size_t index = 0; index < TAccessGate::kRememberedOrigins; ++index) {
        ask(invented(index), 10 + index);
        if (index == TAccessGate::kRememberedOrigins / 2) {
            ask("https://inuse.example", 10 + index);
        }
    }
    const std::vector<TKnownOrigin> known = flooded.KnownOrigins(5000);
    // The two listed ones besides the origins seen.
    EXPECT_EQ(known.size(), TAccessGate::kRememberedOrigins + 2);
    const auto find = [&known](const std::string& origin) {
        return std::find_if(known.begin(), known.end(),
                            [&origin](const TKnownOrigin& each) { return each.Origin == origin; });
    };
    ASSERT_NE(find("https://inuse.example"), known.end());
    EXPECT_EQ(find("https://inuse.example")->Requests, 2u);
    EXPECT_EQ(find(invented(0)), known.end());
    EXPECT_NE(find(invented(1)), known.end());
    EXPECT_NE(find(invented(TAccessGate::kRememberedOrigins - 1)), known.end());
    // Listed, never seen: no requests, no time.
    EXPECT_EQ(*find("https://known.example"),
              (TKnownOrigin{"https://known.example", true, 0, std::nullopt}));
}

// A page must not get past the access checks by leaving out its form field, its body or the end
// of its header block: access is decided on the bytes first. A request that passes without sound
// framing is answered by the gate, byte for byte and line for line as the worker answers it.
TEST(AccessGateTest, AccessComesFirstAndFramingErrorsAreAnsweredAsTheWorkerWould) {
    const std::string host = "Host: localhost:19284\r\n";
    const std::string get = "GET / HTTP/1.1\r\n" + host;
    const std::string versionless = "POST /\r\n" + host;
    const std::string unended = "POST / HTTP/1.1\r\n" + host;
    const auto withBody = [&](const std::string& headers, const std::string& body) {
        return "POST / HTTP/1.1\r\n" + host + headers +
               "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    };
    struct TRow {
        const char* Name;
        std::string Received;
        TOriginMode Origins;
        std::string Key;
        int Code;
        bool Asked = false;
    };
    const TRow rows[] = {
        {"a GET", get + "\r\n", TOriginMode::List, "", 103},
        {"no HTTP version", versionless + "\r\n", TOriginMode::List, "", 104},
        {"the header block not ended", unended, TOriginMode::List, "", 105},
        {"a listed page without json_data", withBody("Origin: https://known.example\r\n", "abc=1"),
         TOriginMode::List, "", 106},
        {"the bridge's own page without a body", withBody("Origin: http://localhost:19284\r\n", ""),
         TOriginMode::List, "", 106},
        {"the right key without json_data", withBody("", "key=k&abc=1"), TOriginMode::List, "k",
         106},
        {"an unlisted page's GET", get + "Origin: https://evil.example\r\n\r\n", TOriginMode::List,
         "", 125},
        {"an unanswered page without json_data",
         withBody("Origin: https://evil.example\r\n", "abc=1"), TOriginMode::Ask, "", 127, true},
        {"a navigation's GET", get + "Sec-Fetch-Mode: navigate\r\n\r\n", TOriginMode::List, "",
         125},
        {"a foreign Host, the header block not ended",
         "POST / HTTP/1.1\r\nHost: evil.example:19284\r\n", TOriginMode::List, "", 125},
        {"no key for want of a body", get + "\r\n", TOriginMode::List, "k", 125},
        {"a wrong key without json_data", withBody("", "key=x&abc=1"), TOriginMode::List, "k", 125},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        TAccessGate gate = GateWith(row.Origins);
        TAccessSettings access = gate.Settings();
        access.Key = row.Key;
        gate.SetSettings(access);
        const TGateDecision decision =
            gate.Decide({.Request = ParseHttpRequest(row.Received), .Peer = kPeer, .CanAsk = true});
        EXPECT_EQ(decision.Action, TGateAction::Answer);
        EXPECT_EQ(decision.Response, ErrorStatusResponse(static_cast<uint8_t>(row.Code)));
        EXPECT_EQ(decision.Question.has_value(), row.Asked);
        std::vector<TLogEntry> errorLines;
        std::copy_if(decision.Lines.begin(), decision.Lines.end(), std::back_inserter(errorLines),
                     [](const TLogEntry& line) { return line.Kind == TLogKind::Error; });
        ASSERT_EQ(errorLines.size(), 1U);
        EXPECT_TRUE(errorLines[0].Text.starts_with("Error[" + std::to_string(row.Code) + "] - "))
            << errorLines[0].Text;
        if (row.Code < ErrorCode::AccessRefused) {
            TFakeSerialIo* const line = new TFakeSerialIo;
            TRavo32 link{std::unique_ptr<TSerialIo>(line)};
            TRecordingHost worker;
            EXPECT_EQ(decision.Response,
                      ServeRequest(ParseHttpRequest(row.Received), link, worker));
            EXPECT_EQ(worker.Lines(),
                      (std::vector<TRecordingHost::TLine>{{TLogKind::Error, errorLines[0].Text}}));
            EXPECT_TRUE(line->Events.empty());
        }
    }
}

// Without anybody to ask, an unlisted page is refused, and the log says once how to list it.
TEST(AccessGateTest, UnlistedPagesAreRefusedAndTheLogSaysOnceHowToAllowThem) {
    const char* const refused = "страница не разрешена";
    TAccessGate gate = GateWith(TOriginMode::List);
    RunSteps(gate, {
                       {"https://new.example", false, 125, false, true, refused, true},
                       {"https://new.example", false, 125, false, false, refused},
                       {"https://known.example", false, 0, false, true, nullptr},
                       {"http://[::1]:19284", false, 0, false, true, nullptr},
                       {"https://old.example", false, 125, false, true, refused},
                       {"null", false, 125, false, true, refused},
                       {"HTTPS://Caps.example", false, 125, false, true, refused},
                   });
}

// A GET of the bridge's page passes the Host check alone and is answered at once, also while
// another request is served; anything else waits then, unread by the gate.
TEST(AccessGateTest, ThePageIsAnsweredAfterTheHostCheckAloneBusyOrNot) {
    const std::string page = AnswerDemoPage("GET /demo/ HTTP/1.1\r\n").Response;
    const std::string refused = ErrorStatusResponse(ErrorCode::AccessRefused);
    const std::string foreignHostLine =
        kRefused + "Host не называет этот компьютер (адрес " + kPeer +
        ", Host: rebound.evil.example:19284, Origin: https://evil.example)";
    struct TRow {
        const char* Name;
        std::string Received;
        TGateAction Idle;
        TGateAction Busy;
        std::string Response;
        std::vector<TLogEntry> Lines;
    };
    const TRow rows[] = {
        {"the page opened by a foreign site",
         "GET /demo/ HTTP/1.1\r\nHost: localhost:19284\r\nOrigin: https://evil.example\r\n"
         "Sec-Fetch-Mode: navigate\r\n\r\n",
         TGateAction::Answer,
         TGateAction::Answer,
         page,
         {}},
        {"the page without Host",
         "GET /demo/?x HTTP/1.0\r\n\r\n",
         TGateAction::Answer,
         TGateAction::Answer,
         page,
         {}},
        {"a foreign Host",
         "GET /demo/ HTTP/1.1\r\nHost: rebound.evil.example:19284\r\n"
         "Origin: https://evil.example\r\n\r\n",
         TGateAction::Answer,
         TGateAction::Answer,
         refused,
         {{TLogKind::Error, foreignHostLine}}},
        {"the root",
         "GET / HTTP/1.1\r\n\r\n",
         TGateAction::Answer,
         TGateAction::Busy,
         ErrorStatusResponse(ErrorCode::NoPostLine),
         {{TLogKind::Error, "Error[103] - Не найдена первая POST строка HTTP заголовка"}}},
        {"a POST of an unanswered page",
         FromOrigin("https://new.example"),
         TGateAction::Answer,
         TGateAction::Busy,
         ErrorStatusResponse(ErrorCode::AccessAwaitingOperator),
         {Refusal("страница ждёт ответа оператора", "https://new.example", 127)}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        for (const bool busy : {true, false}) {
            TAccessGate gate = AskingGate();
            const TGateDecision decision = gate.Decide({.Request = ParseHttpRequest(row.Received),
                                                        .Peer = kPeer,
                                                        .ErrorsOnly = true,
                                                        .CanAsk = true,
                                                        .Busy = busy});
            EXPECT_EQ(decision.Action, busy ? row.Busy : row.Idle) << busy;
            if (decision.Action == TGateAction::Busy) {
                EXPECT_EQ(decision.Response, "");
                EXPECT_TRUE(decision.Lines.empty());
                EXPECT_FALSE(decision.Question.has_value());
            } else if (decision.Action == TGateAction::Answer) {
                EXPECT_TRUE(decision.Response == row.Response);
                EXPECT_EQ(decision.Lines, row.Lines);
            }
        }
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
            written += gate.Decide({.Request = ParseHttpRequest(FromOrigin("https://old.example")),
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
    EXPECT_EQ(gate.Decide({.Request = ParseHttpRequest(received), .Peer = kPeer}).Action,
              TGateAction::Serve);
    addresses = {"192.168.1.21"};
    EXPECT_EQ(gate.Decide({.Request = ParseHttpRequest(received), .Peer = kPeer}).Action,
              TGateAction::Answer);
}

}  // namespace
